#pragma once

class QSerialPort;

// Waits until the operating system has passed every written byte to the device. The one place
// that knows how the platform does this.
void drainSerialOutput(QSerialPort &port);
