# The USB bench's cases. Each starts its phones on the controllers it names,
# runs the program against them through the kernel's drivers and udev, and
# checks the outcome from the phone's side; one result line each.
# The cases run when none is named. disk-elsewhere runs only when named: its
# job waits out all 60 of its attempts to find the disk, each a start of the
# device helper, which under plain emulation takes minutes.
# firehose runs first: its phone speaks as soon as its tty is opened, and the
# kernel hands a tty's line settings on to the next device at the same index,
# so only the first opener of a tty meets the kernel's own (echo on), as on a
# freshly started desktop.
ALL_CASES="firehose emergency diagnostic four-modes unplugged-mid-write late-disk"

# What the case lines say of access: the seat's user (uaccess) needs logind.
NO_SEAT="uaccess not checked: no logind in the guest"

# The done row of one phone in a --json run: "INDEX RESULT".
done_row() {
  grep '"done":true' "$1" | sed -n 's/.*"index":\([0-9]*\).*"result":"\(0x[0-9a-f]*\)".*/\1 \2/p'
}

# An emergency-download phone: bound by qcserial as a tty, flashed, back at
# the same USB port as a disk that usb-storage binds, the package on it; the
# tty and the disk with the group and mode the package's rules give them.
case_emergency() {
  local name=emergency device problems=""
  device=$(usb_device_of dummy_udc.0)
  start_phones --phones 1 --usb dummy_udc.0 --disk-delay 300
  if ! wait_for 60 listed emergency-download; then
    result fail $name "not listed; drivers=$(drivers_of "$device")"
    return
  fi
  local index="" node=""
  read -r index node _ < <(cli list | grep ' emergency-download ')
  local tty_drivers
  tty_drivers=$(drivers_of "$device")
  udev_has "$node" ID_MM_DEVICE_IGNORE=1 || problems+=" tty-without-ID_MM_DEVICE_IGNORE"
  udevadm info --name="$node" | grep -q '^E: TAGS=.*:uaccess:' || problems+=" tty-without-uaccess"
  problems+=$(access_problems tty 9008 "$node")
  local tty_access
  tty_access=$(node_access "$node")
  local current=without
  udevadm info --name="$node" | grep -q '^E: CURRENT_TAGS=.*:uaccess:' && current=with
  cli flash -p /tmp/package -d "$index" --timeout 400 --json >"$logs/flash.json" 2>"$logs/cli.log"
  local rc=$? row
  row=$(done_row "$logs/flash.json")
  [ "$rc" -eq 0 ] || problems+=" exit=$rc"
  [ "$row" = "$index 0x00000000" ] || problems+=" row=[$row]"
  package_on_disk "$case_dir/bench/disk-1.img" || problems+=" package-not-on-disk"
  local disk
  disk=$(cli list | awk -v i="$index" '$1 == i && $3 == "usb-disk" {print $2}')
  [ -n "$disk" ] || problems+=" disk-not-at-index-$index"
  [ -z "$disk" ] || udev_has "$disk" UDISKS_IGNORE=1 || problems+=" disk-without-UDISKS_IGNORE"
  local disk_access=none
  if [ -n "$disk" ]; then
    local nodes=("$disk") part
    for part in "$disk"[0-9]*; do [ -b "$part" ] && nodes+=("$part"); done
    problems+=$(access_problems block :08 "${nodes[@]}")
    disk_access="$(node_access "$disk") ($((${#nodes[@]} - 1)) partitions checked too)"
  fi
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$tty_drivers then $(drivers_of "$device"); $node at index $index (current tags $current uaccess), back as ${disk:-nothing} at index $index; access as the rules give: tty $tty_access, disk $disk_access; $NO_SEAT${problems:+;$problems}"
  add_phones 1
}

# A running phone's diagnostic port: the package's rules bind it to a serial
# driver; the phone is listed and its NV items backed up through it.
case_diagnostic() {
  local name=diagnostic device problems=""
  device=$(usb_device_of dummy_udc.1)
  start_phones --phones 0 --diagnostic-phones 1 --usb dummy_udc.1
  if ! wait_for 60 listed diagnostic; then
    result fail $name "not listed; drivers=$(drivers_of "$device")"
    return
  fi
  local index="" node=""
  read -r index node _ < <(cli list | grep ' diagnostic ')
  udev_has "$node" ID_MM_DEVICE_IGNORE=1 || problems+=" tty-without-ID_MM_DEVICE_IGNORE"
  mkdir -p "$case_dir/backup"
  cli backup -p "$case_dir/backup" -d "$index" --timeout 400 --json >"$logs/backup.json" 2>"$logs/cli.log"
  local rc=$? row
  row=$(done_row "$logs/backup.json")
  [ "$rc" -eq 0 ] || problems+=" exit=$rc"
  [ "$row" = "$index 0x00000000" ] || problems+=" row=[$row]"
  [ "$(ls "$case_dir"/backup/*.qcn 2>/dev/null | wc -l)" -eq 1 ] || problems+=" no-backup-file"
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$(drivers_of "$device"); $node at index $index backed up${problems:+;$problems}"
  add_phones 1
}

# One phone in each mode on four ports at once: the running phone backed up,
# then all four flashed by one `vantor-cli flash` (the running phone's items
# restored from that backup), each checked from its own side.
case_four_modes() {
  local name=four-modes problems=""
  start_phones --phones 1 --fastboot-phones 1 --disk-phones 1 --diagnostic-phones 1 \
    --usb dummy_udc.0,dummy_udc.1,dummy_udc.2,dummy_udc.3 --disk-delay 300
  local mode
  for mode in emergency-download fastboot usb-disk diagnostic; do
    wait_for 60 listed "$mode" || problems+=" $mode-not-listed"
  done
  if [ -n "$problems" ]; then
    result fail $name "drivers=$(all_drivers);$problems"
    return
  fi
  local drivers_before
  drivers_before=$(all_drivers)
  cp -r /tmp/package "$case_dir/package"
  cp "$case_dir"/bench/nv-4.txt "$case_dir/nv-before.txt"
  cli backup -p "$case_dir/package" --timeout 400 --json >"$logs/backup.json" 2>"$logs/backup.log" ||
    problems+=" backup-exit=$?"
  cli flash -p "$case_dir/package" --timeout 600 --json >"$logs/flash.json" 2>"$logs/cli.log" ||
    problems+=" flash-exit=$?"
  [ "$(done_row "$logs/flash.json" | grep -c ' 0x00000000$')" -eq 4 ] ||
    problems+=" rows=[$(done_row "$logs/flash.json" | tr '\n' ' ')]"
  package_on_disk "$case_dir/bench/disk-1.img" || problems+=" emergency-disk-without-package"
  package_on_disk "$case_dir/bench/disk-3.img" || problems+=" disk-without-package"
  cmp -s "$case_dir/nv-before.txt" "$case_dir/bench/nv-4.txt" || problems+=" nv-items-differ"
  [ ! -e "/sys/bus/usb/devices/$(usb_device_of dummy_udc.1)" ] || problems+=" fastboot-phone-not-rebooted"
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$drivers_before; after: $(all_drivers); 4 phones flashed, NV items restored${problems:+;$problems}"
  add_phones 4
}

# A later phone (Sahara and Firehose) in emergency download mode: bound by
# qcserial as a tty like the older phones, flashed with the programmer the
# package's glob finds, its LUN then checked against the package byte for
# byte from the phone's side; after its power reset it comes back at the
# same port and index.
case_firehose() {
  local name=firehose device problems=""
  device=$(usb_device_of dummy_udc.0)
  start_phones --phones 0 --firehose-phones 1 --fh-lun-bytes $((128 << 20)) --usb dummy_udc.0
  if ! wait_for 60 listed emergency-download; then
    result fail $name "not listed; drivers=$(drivers_of "$device")"
    return
  fi
  local index="" node="" drivers tty_access number
  read -r index node _ < <(cli list | grep ' emergency-download ')
  drivers=$(drivers_of "$device")
  udev_has "$node" ID_MM_DEVICE_IGNORE=1 || problems+=" tty-without-ID_MM_DEVICE_IGNORE"
  problems+=$(access_problems tty 9008 "$node")
  tty_access=$(node_access "$node")
  number=$(cat "/sys/bus/usb/devices/$device/devnum")
  cli flash -p /tmp/package -d "$index" --firehose-programmer 'prog_*firehose*' --timeout 400 --json \
    >"$logs/flash.json" 2>"$logs/cli.log"
  local rc=$? row held
  row=$(done_row "$logs/flash.json")
  [ "$rc" -eq 0 ] || problems+=" exit=$rc"
  [ "$row" = "$index 0x00000000" ] || problems+=" row=[$row]"
  held=$("$root/scripts/usb-bench.d/lun-holds-package" "$case_dir/bench/firehose-1-lun0.img" /tmp/package) ||
    problems+=" lun-differs:[$held]"
  local again=""
  if [ "$rc" -ne 0 ]; then
    :  # no power reset to come back from
  elif wait_for 30 came_back "$device" "$number"; then
    wait_for 10 listed emergency-download &&
      again=$(cli list | awk -v i="$index" '$1 == i && $3 == "emergency-download" {print $2}')
    [ -n "$again" ] || problems+=" not-listed-again-at-index-$index"
  else
    problems+=" not-back-after-a-reset"
  fi
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$drivers; $node at index $index flashed by Sahara/Firehose (prog_*firehose*), LUN 0: ${held:-?}; back as ${again:-nothing} at index $index after its reset; access as the rules give: tty $tty_access; $NO_SEAT${problems:+;$problems}"
  add_phones 1
}

# A device at the port with another device number than before, bound again.
came_back() {  # came_back DEVICE NUMBER
  [ -e "/sys/bus/usb/devices/$1/devnum" ] && [ "$(cat "/sys/bus/usb/devices/$1/devnum")" != "$2" ] &&
    [ "$(drivers_of "$1")" != none ]
}

# "PORT:drivers" of the four ports.
all_drivers() {
  local n out=""
  for n in 0 1 2 3; do
    local device
    device=$(usb_device_of dummy_udc.$n)
    [ -e "/sys/bus/usb/devices/$device" ] && out+=" $device:$(drivers_of "$device")"
  done
  echo "${out# }"
}

# Faults only a kernel shows.

# A USB disk unplugged (its function removed) while the program writes it:
# the job fails with the error of the lost device, neither succeeding nor
# waiting for its time-out.
case_unplugged_mid_write() {
  local name=unplugged-mid-write problems=""
  start_phones --phones 0 --disk-phones 1 --usb dummy_udc.2
  if ! wait_for 60 listed usb-disk; then
    result fail $name "not listed; drivers=$(drivers_of "$(usb_device_of dummy_udc.2)")"
    return
  fi
  local drivers disk="$case_dir/bench/disk-1.img" node
  drivers=$(drivers_of "$(usb_device_of dummy_udc.2)")
  node=$(cli list | awk '$3 == "usb-disk" {print $2}')
  # Once 4 MiB have reached the phone's eMMC, whether the program holds the
  # disk for itself, and then the phone unplugged at once (a watcher started
  # before the run, as starting it takes longer than the write).
  unplug_when_written "$disk" "$node" "$sim" >"$logs/unplug" &
  local watcher=$!
  cli flash -p /tmp/package --timeout 300 --json >"$logs/flash.json" 2>"$logs/cli.log" &
  local flash=$!
  wait "$watcher"
  local held mib
  read -r held mib <"$logs/unplug"
  [ "$held" = yes ] || problems+=" $node-not-held-exclusively($held)"
  local started=$SECONDS rc=0
  wait "$flash" || rc=$?
  local row
  row=$(done_row "$logs/flash.json")
  [ "$rc" -eq 1 ] || problems+=" exit=$rc"
  case "${row#* }" in
    0x00000000|0x800705b4|"") problems+=" row=[$row]" ;;
  esac
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$drivers; $node held exclusively: $held; unplugged after ${mib:-?} MiB, the job failed with ${row#* } after $((SECONDS - started)) s${problems:+;$problems}"
  add_phones 1
}

# The mini kernel's disk appears late (20 s after the reset): the job waits
# for it at the same port and finishes.
case_late_disk() {
  local name=late-disk problems=""
  start_phones --phones 1 --usb dummy_udc.3 --disk-delay 20000
  if ! wait_for 60 listed emergency-download; then
    result fail $name "not listed; drivers=$(drivers_of "$(usb_device_of dummy_udc.3)")"
    return
  fi
  local index="" node=""
  read -r index node _ < <(cli list | grep ' emergency-download ')
  cli flash -p /tmp/package -d "$index" --timeout 400 --json >"$logs/flash.json" 2>"$logs/cli.log" ||
    problems+=" exit=$?"
  local row
  row=$(done_row "$logs/flash.json")
  [ "$row" = "$index 0x00000000" ] || problems+=" row=[$row]"
  package_on_disk "$case_dir/bench/disk-1.img" || problems+=" package-not-on-disk"
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$(drivers_of "$(usb_device_of dummy_udc.3)"); $node at index $index, the disk 20 s later${problems:+;$problems}"
  add_phones 1
}

# An emergency-download phone whose disk comes back at another USB port: the
# job waits for a disk at its own port (waits halved by VANTOR_TIME_SCALE)
# and fails, and the disk at the other port, another index, is not written.
case_disk_elsewhere() {
  local name=disk-elsewhere problems=""
  start_phones --phones 1 --usb dummy_udc.0 --disk-returns-at dummy_udc.1 --disk-delay 300
  if ! wait_for 60 listed emergency-download; then
    result fail $name "not listed; drivers=$(drivers_of "$(usb_device_of dummy_udc.0)")"
    return
  fi
  local index="" node=""
  read -r index node _ < <(cli list | grep ' emergency-download ')
  VANTOR_TIME_SCALE=0.5 cli flash -p /tmp/package -d "$index" --timeout 400 --json >"$logs/flash.json" \
    2>"$logs/cli.log"
  local rc=$? row other
  row=$(done_row "$logs/flash.json")
  other=$(cli list | awk '$3 == "usb-disk" {print $1, $2}')
  [ "$rc" -eq 1 ] || problems+=" exit=$rc"
  [ "$row" = "$index 0x80070015" ] || problems+=" row=[$row]"
  [ -n "$other" ] && [ "${other%% *}" != "$index" ] || problems+=" other-disk=[$other]"
  package_on_disk "$case_dir/bench/disk-1.img" && problems+=" the-other-disk-was-written"
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$(drivers_of "$(usb_device_of dummy_udc.0)") then $(drivers_of "$(usb_device_of dummy_udc.1)") at the other port; $node at index $index failed with ${row#* }, the disk (${other:-none}) left alone${problems:+;$problems}"
  add_phones 1
}
