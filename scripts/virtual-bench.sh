# Sourced by the demo and the screenshot script: builds the project when
# needed, generates the sample package and starts a virtual bench of four
# phones (emergency download, USB disk, fastboot, running phone) in a
# temporary folder that is removed on exit; a fifth phone is a later one in
# emergency download mode that speaks Sahara and Firehose.
#
# After start_bench: $root, $work, $build, and the environment that points the
# program at the bench (VANTOR_BENCH_DIR, VANTOR_DEVICE_HELPER) and at a
# registry of its own (VANTOR_REGISTRY_DIR), so the bench never touches the
# user's stored settings.

root=$PWD
build=build/default
work=$(mktemp -d)
sim=""
stop_bench() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap stop_bench EXIT

build_project() {
  scripts/bootstrap
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$(nproc)" >/dev/null
}

# start_bench [extra vantor-phonesim options]
start_bench() {
  scripts/make-sample-package "$work/package"
  mkdir -p "$work/bench" "$work/registry"
  "$build/tools/phonesim/vantor-phonesim" --dir "$work/bench" --phones 1 --disk-phones 1 --fastboot-phones 1 \
    --diagnostic-phones 1 --firehose-phones 1 --disk-delay 300 "$@" > "$work/phones" &
  sim=$!
  for _ in $(seq 100); do [ "$(wc -l < "$work/phones")" -ge 5 ] && break; sleep 0.05; done
  echo "The virtual bench:"
  sed 's/^/  /' "$work/phones"
  export VANTOR_BENCH_DIR="$work/bench"
  export VANTOR_DEVICE_HELPER="$PWD/$build/tools/devices/vantor-devices"
  export VANTOR_REGISTRY_DIR="$work/registry"
}

# Installs the program's components as its first start would, from a
# component folder of the bench's own into a rules folder of its own (the
# machine's udev rules stay as they are), so that the window's first start
# finds them installed and keeps the stored folder list.
install_components() {
  local components="$work/components" arch
  arch=$(uname -m)
  mkdir -p "$components/Google/Driver" "$components/Qualcomm/Driver/$arch" "$components/Qualcomm/QPST" "$work/rules"
  cp resources/rules/51-android.rules "$components/Google/Driver/"
  cp resources/rules/qcser.rules "$components/Qualcomm/Driver/$arch/"
  export VANTOR_RULES_DIR="$work/rules"
  (cd "$components" && "$root/$build/ui/vantor" /RegServer)
}

# The package folder as the stored folder list, so the main window opens on it.
store_package_folder() {
  cat > "$VANTOR_REGISTRY_DIR/HKEY_CURRENT_USER.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Orlesk\\Vantor\\SearchPath]
"DocumentCount"=dword:00000006
"Document1"="$work/package"
REG
}
