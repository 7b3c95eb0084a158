#pragma once

class QSerialPort;
class QString;

// The few serial-port steps that differ between platforms, kept in one place.

// Waits until the operating system has passed every written byte to the device.
void drainSerialOutput(QSerialPort &port);

// False when the device name certainly names nothing, so the (slow) locked open need not be tried.
bool serialDeviceMayExist(const QString &name);
