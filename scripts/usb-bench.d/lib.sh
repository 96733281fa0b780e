# Set-up and helpers of the guest side of the USB bench, and its cases.

# Loads the gadget side (dummy_hcd with one controller per phone) and the
# host side's drivers. udev in the chroot finds no binary module index, so
# the drivers are loaded here rather than by their modalias.
start_usb() {
  local controllers=$1 m
  for m in configfs libcomposite usb_f_fs usb_f_mass_storage usbserial usb_wwan qcserial option \
      usb-storage sd_mod; do
    busybox modprobe "$m" || echo "guest: cannot load $m"
  done
  busybox modprobe dummy_hcd num="$controllers" || echo "guest: cannot load dummy_hcd"
  mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
}

# The package's files where the package puts them (prefix /usr): the rules
# land in /usr/lib/udev/rules.d, the programs in /usr/bin.
install_package() {
  cmake --install "$build" --prefix /usr >/tmp/install.log 2>&1 || echo "guest: install failed"
}

start_udev() {
  /lib/systemd/systemd-udevd --daemon
  udevadm trigger --action=add
  udevadm settle --timeout=30
}

stop_udev() {
  udevadm control --exit 2>/dev/null || true
}

# wait_for SECONDS COMMAND...: true once COMMAND holds, false at the deadline.
wait_for() {
  local deadline=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

add_phones() {  # the phones the cases drove
  echo $(($(cat /out/phones) + $1)) >/out/phones
}

result() {  # hold|fail NAME DETAIL
  echo "$1 $2: $3" | tee -a /out/results
}

# The USB device at a controller's one port ("1-1" for dummy_udc.0).
usb_device_of() {
  local bus
  bus=$(basename "$(ls -d /sys/devices/platform/dummy_hcd."${1#dummy_udc.}"/usb* 2>/dev/null | head -1)")
  echo "${bus#usb}-1"
}

# The drivers the kernel bound to the device's interfaces, "none" for none.
drivers_of() {
  local device=$1 names="" intf
  for intf in /sys/bus/usb/devices/"$device":*; do
    [ -e "$intf/driver" ] && names="$names,$(basename "$(readlink "$intf/driver")")"
  done
  names=${names#,}
  echo "${names:-none}"
}

# The phones' side: vantor-phonesim on the controllers named; its output
# (one line a phone) in $case_dir/phones.
start_phones() {
  mkdir -p "$case_dir/bench"
  "$build/tools/phonesim/vantor-phonesim" --dir "$case_dir/bench" "$@" >"$logs/phones" 2>"$logs/phonesim.log" &
  sim=$!
}

stop_phones() {
  [ -n "${sim:-}" ] || return 0
  kill "$sim" 2>/dev/null
  wait "$sim" 2>/dev/null
  sim=""
}

cli() {
  VANTOR_REGISTRY_DIR=$case_dir/registry VANTOR_RECORDS_DB=$case_dir/records.db \
    VANTOR_DEVICE_HELPER=/usr/libexec/vantor/vantor-devices /usr/bin/vantor-cli "$@"
}

listed() {  # listed MODE [COUNT]
  [ "$(cli list 2>/dev/null | grep -c " $1 ")" -ge "${2:-1}" ]
}

# The udev properties and tags the package's rules set, as udevadm shows them.
udev_has() {  # udev_has NODE LINE...
  local node=$1 info
  shift
  info=$(udevadm info --query=all --name="$node" 2>/dev/null) || return 1
  for line in "$@"; do grep -qx "E: $line" <<<"$info" || return 1; done
}

# The group and mode the package's installed rules give the nodes of a
# subsystem: "GROUP MODE" from the first rule line for the subsystem that
# matches the pattern and sets them.
rules_access() {  # rules_access SUBSYSTEM PATTERN
  grep -h "^SUBSYSTEM==\"$1\".*$2.*GROUP=" /usr/lib/udev/rules.d/60-vantor-*.rules |
    sed -n '1s/.*GROUP="\([^"]*\)".*MODE="\([0-7]*\)".*/\1 \2/p'
}

# "GROUP MODE" of a device node as udev left it, the mode in four octal digits.
node_access() {
  local group mode
  read -r group mode < <(stat -Lc '%G %a' "$1" 2>/dev/null) || return 1
  printf '%s %04o\n' "$group" "0$mode"
}

node_has_access() { [ "$(node_access "$1")" = "$2" ]; }

# The nodes that lack the group and mode the rules give their subsystem, as
# problems (udev may still be at a new node: each is waited for a little).
# Whether the seat's user gets them (uaccess) needs logind, which the guest
# has not.
access_problems() {  # access_problems SUBSYSTEM PATTERN NODE...
  local subsystem=$1 pattern=$2 want node out=""
  shift 2
  want=$(rules_access "$subsystem" "$pattern")
  if [ -z "$want" ]; then
    echo " no-$subsystem-access-rule"
    return
  fi
  for node in "$@"; do
    wait_for 5 node_has_access "$node" "$want" ||
      out+=" $node-is-[$(node_access "$node")]-not-[$want]"
  done
  echo "$out"
}

# unplug_when_written IMAGE NODE PID: once 4 MiB have reached the disk's
# file, whether another opener is refused the whole disk (an exclusive open
# fails while someone holds it so), then the phones' process ended, which
# unplugs them. Prints "yes|no|error MiB".
unplug_when_written() {
  python3 -c 'import errno, os, signal, sys, time
image, node, sim = sys.argv[1], sys.argv[2], int(sys.argv[3])
deadline = time.time() + 300
while os.stat(image).st_blocks < 8192 and time.time() < deadline:
    time.sleep(0.01)
try:
    os.close(os.open(node, os.O_RDONLY | os.O_EXCL))
    held = "no"
except OSError as e:
    held = "yes" if e.errno == errno.EBUSY else "error"
os.kill(sim, signal.SIGTERM)
print(held, os.stat(image).st_blocks // 2048)' "$@"
}

package_on_disk() {  # the package's system image at its sectors of the disk file
  cmp -s -i $((28672 * 512)):0 -n $((24 * 1024 * 1024)) "$1" /tmp/package/system.img
}

source "$root/scripts/usb-bench.d/cases.sh"

run_cases() {
  local list=$1 name
  "$root/scripts/make-sample-package" /tmp/package >/dev/null
  echo "guest: kernel $(uname -r), udev $(udevadm --version), $(ls /sys/class/udc | wc -l) USB controllers" >>/out/results
  echo 0 >/out/phones
  [ "$list" = all ] && list=$ALL_CASES
  for name in ${list//,/ }; do
    case_dir=/tmp/case-$name  # the phones' state and disks
    logs=/out/$name           # what the host keeps
    rm -rf "$case_dir" && mkdir -p "$case_dir/registry" "$logs"
    if ! declare -F "case_${name//-/_}" >/dev/null; then
      result fail "$name" "no such case"
      continue
    fi
    local before
    before=$(wc -l </out/results)
    ( "case_${name//-/_}"; stop_phones )
    [ "$(wc -l </out/results)" -gt "$before" ] || result fail "$name" "the case ended early"
  done
}
