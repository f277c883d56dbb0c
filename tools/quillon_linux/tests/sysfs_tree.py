"""A device tree laid out as the kernel's, for the port choice's tests: per
tty a USB device, its interface with class and protocol, the driver, and
for a USB-serial driver the port below the interface."""
import os


class SysfsTree:
    def __init__(self, root):
        self.root = os.path.join(root, "sys")
        self.devices = 0
        os.makedirs(os.path.join(self.root, "class", "tty"))

    def add(self, name, interface_class, protocol, driver, product="Module"):
        """name: the tty's kernel name (ttyACM0, ttyUSB2)."""
        self.devices += 1
        usb = os.path.join(self.root, "devices", "pci0000:00", "0000:00:14.0", "usb1", "1-%d" % self.devices)
        interface = os.path.join(usb, "1-%d:1.0" % self.devices)
        os.makedirs(interface)
        for directory, values in ((usb, {"idVendor": "1a2b", "idProduct": "0001", "product": product}),
                                  (interface, {"bInterfaceClass": interface_class, "bInterfaceProtocol": protocol})):
            for key, value in values.items():
                with open(os.path.join(directory, key), "w") as f:
                    f.write(value + "\n")
        bus = "usb" if name.startswith("ttyACM") else "usb-serial"
        drivers = os.path.join(self.root, "bus", bus, "drivers", driver)
        os.makedirs(drivers, exist_ok=True)
        device = interface
        if bus == "usb-serial":
            device = os.path.join(interface, name)
            os.makedirs(device)
        os.symlink(drivers, os.path.join(device, "driver"))
        os.makedirs(os.path.join(self.root, "class", "tty", name))
        os.symlink(device, os.path.join(self.root, "class", "tty", name, "device"))
        return usb
