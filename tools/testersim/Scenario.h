#pragma once

#include <map>
#include <optional>
#include <utility>

#include <QByteArray>
#include <QString>

// What the simulated tester answers: the reply data of every request of the command table and,
// per request, an optional fault. Loaded from a JSON scenario file.
class Scenario final
{
public:
    enum class FaultKind
    {
        None,
        Silent,       // no answer
        BadChecksum,  // last byte off by one
        BadStartByte, // 0x55 instead of 0xAA, checksum still right
        LengthByte11, // byte 1 is 0x0B (the probe refuses it)
        Short,        // a valid frame without data bytes
        Truncated,    // only the first two bytes
        ExtraBytes,   // valid frame followed by more bytes
        Delay,        // valid frame after a pause (a late reply)
        Split,        // valid frame with pauses inside it
        Vanish,       // the first bytes of a valid frame, then the device goes away
        Noise,        // `value` bytes counting up from 00 instead of a frame
    };
    struct Fault
    {
        FaultKind kind = FaultKind::None;
        // ms for Delay and Split, byte count for ExtraBytes and Noise, bytes sent before vanishing
        int value = 0;
        // Split: pause only before this byte (0: before every byte after the first)
        int at = 0;
    };
    using Request = std::pair<int, int>; // group, item

    // The built-in healthy vehicle.
    static Scenario defaultVehicle();
    static std::optional<Scenario> fromJson(const QByteArray &json, QString *error);

    bool knows(Request request) const { return m_data.count(request) != 0; }
    // The complete reply frame for a request with its fault applied; empty for no answer.
    QByteArray reply(Request request) const;
    Fault fault(Request request) const;
    // Answer only the first N requests (negative: no limit, 0: never answer).
    int silentAfter() const { return m_silentAfter; }
    void setSilentAfter(int count) { m_silentAfter = count; }

    static QByteArray frame(Request request, const QByteArray &data);

private:
    std::map<Request, QByteArray> m_data;
    std::map<Request, Fault> m_faults;
    int m_silentAfter = -1;
};
