# Set-up and helpers of the guest side of the USB bench.

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
  mkdir -p /dev/bus/usb
}

# The package's files where the package puts them (prefix /usr): the rules
# land in /usr/lib/udev/rules.d.
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

result() {  # hold|fail NAME DETAIL
  echo "$1 $2: $3" | tee -a /out/results
}

run_cases() {
  local list=$1
  result hold boot "kernel $(uname -r), udev $(udevadm --version), $(ls /sys/class/udc | wc -l) controllers"
  echo 0 >/out/phones
}
