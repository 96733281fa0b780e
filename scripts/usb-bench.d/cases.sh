# The USB bench's cases. Each starts its phones on the controllers it names,
# runs the program against them through the kernel's drivers and udev, and
# checks the outcome from the phone's side; one result line each.
ALL_CASES="emergency diagnostic"

# The done row of one phone in a --json run: "INDEX RESULT".
done_row() {
  grep '"done":true' "$1" | sed -n 's/.*"index":\([0-9]*\).*"result":"\(0x[0-9a-f]*\)".*/\1 \2/p'
}

# An emergency-download phone: bound by qcserial as a tty, flashed, back at
# the same USB port as a disk that usb-storage binds, the package on it.
case_emergency() {
  local name=emergency device problems=""
  device=$(usb_device_of dummy_udc.0)
  start_phones --phones 1 --usb dummy_udc.0 --disk-delay 300
  if ! wait_for 60 listed emergency-download; then
    result fail $name "not listed; drivers=$(drivers_of "$device")"
    return
  fi
  local index node
  read -r index node _ < <(cli list | grep ' emergency-download ')
  local tty_drivers
  tty_drivers=$(drivers_of "$device")
  udev_has "$node" ID_MM_DEVICE_IGNORE=1 || problems+=" tty-without-ID_MM_DEVICE_IGNORE"
  udevadm info --name="$node" | grep -q '^E: TAGS=.*:uaccess:' || problems+=" tty-without-uaccess"
  cli flash -p /tmp/package -d "$index" --timeout 400 --json >"$case_dir/flash.json" 2>"$case_dir/cli.log"
  local rc=$? row
  row=$(done_row "$case_dir/flash.json")
  [ "$rc" -eq 0 ] || problems+=" exit=$rc"
  [ "$row" = "$index 0x00000000" ] || problems+=" row=[$row]"
  package_on_disk "$case_dir/bench/disk-1.img" || problems+=" package-not-on-disk"
  local disk
  disk=$(cli list | awk -v i="$index" '$1 == i && $3 == "usb-disk" {print $2}')
  [ -n "$disk" ] || problems+=" disk-not-at-index-$index"
  [ -z "$disk" ] || udev_has "$disk" UDISKS_IGNORE=1 || problems+=" disk-without-UDISKS_IGNORE"
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$tty_drivers then $(drivers_of "$device"); $node at index $index, back as ${disk:-nothing} at index $index${problems:+;$problems}"
  echo 1 >/out/phones
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
  local index node
  read -r index node _ < <(cli list | grep ' diagnostic ')
  udev_has "$node" ID_MM_DEVICE_IGNORE=1 || problems+=" tty-without-ID_MM_DEVICE_IGNORE"
  mkdir -p "$case_dir/backup"
  cli backup -p "$case_dir/backup" -d "$index" --timeout 400 --json >"$case_dir/backup.json" 2>"$case_dir/cli.log"
  local rc=$? row
  row=$(done_row "$case_dir/backup.json")
  [ "$rc" -eq 0 ] || problems+=" exit=$rc"
  [ "$row" = "$index 0x00000000" ] || problems+=" row=[$row]"
  [ "$(ls "$case_dir"/backup/*.qcn 2>/dev/null | wc -l)" -eq 1 ] || problems+=" no-backup-file"
  local verdict=hold
  [ -z "$problems" ] || verdict=fail
  result $verdict $name "drivers=$(drivers_of "$device"); $node at index $index backed up${problems:+;$problems}"
}
