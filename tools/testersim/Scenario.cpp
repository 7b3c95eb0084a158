#include "Scenario.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "Codec.h"

namespace {

QByteArray be16(int value)
{
    QByteArray bytes;
    bytes.append(static_cast<char>((value >> 8) & 0xFF)).append(static_cast<char>(value & 0xFF));
    return bytes;
}

QByteArray byte(int value)
{
    return QByteArray(1, static_cast<char>(value & 0xFF));
}

int field(const QJsonObject &object, const char *section, const char *name)
{
    return object.value(QLatin1String(section)).toObject().value(QLatin1String(name)).toInt();
}

std::optional<Scenario::FaultKind> faultKind(const QString &name)
{
    static const std::map<QString, Scenario::FaultKind> kinds = {
        {QStringLiteral("none"), Scenario::FaultKind::None},
        {QStringLiteral("silent"), Scenario::FaultKind::Silent},
        {QStringLiteral("checksum"), Scenario::FaultKind::BadChecksum},
        {QStringLiteral("startByte"), Scenario::FaultKind::BadStartByte},
        {QStringLiteral("lengthByte11"), Scenario::FaultKind::LengthByte11},
        {QStringLiteral("short"), Scenario::FaultKind::Short},
        {QStringLiteral("truncated"), Scenario::FaultKind::Truncated},
        {QStringLiteral("extra"), Scenario::FaultKind::ExtraBytes},
        {QStringLiteral("delay"), Scenario::FaultKind::Delay},
        {QStringLiteral("split"), Scenario::FaultKind::Split},
        {QStringLiteral("vanish"), Scenario::FaultKind::Vanish},
        {QStringLiteral("noise"), Scenario::FaultKind::Noise},
    };
    const auto found = kinds.find(name);
    if (found == kinds.end())
        return std::nullopt;
    return found->second;
}

QByteArray withChecksum(QByteArray bytes)
{
    unsigned sum = 0;
    for (char b : bytes)
        sum += static_cast<unsigned char>(b);
    bytes.append(static_cast<char>(sum & 0xFF));
    return bytes;
}

} // namespace

QByteArray Scenario::frame(Request request, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(0xAA));
    // Like the requests: the count of bytes after the start byte, checksum not counted.
    bytes.append(static_cast<char>(3 + data.size()));
    bytes.append(static_cast<char>(request.first)).append(static_cast<char>(request.second));
    bytes.append(data);
    return withChecksum(bytes);
}

Scenario Scenario::defaultVehicle()
{
    QFile file(QStringLiteral(":/scenario/vehicle.json"));
    file.open(QIODevice::ReadOnly);
    return fromJson(file.readAll(), nullptr).value_or(Scenario());
}

std::optional<Scenario> Scenario::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (error)
            *error = parseError.errorString();
        return std::nullopt;
    }
    const QJsonObject o = document.object();
    Scenario s;
    s.m_data[{1, 1}] = be16(field(o, "battery", "voltage"));
    s.m_data[{1, 2}] =
        be16(field(o, "battery", "measuredRating")) + byte(field(o, "battery", "ratingStandard"));
    s.m_data[{1, 3}] = be16(field(o, "battery", "resistance"));
    s.m_data[{1, 4}] = byte(field(o, "battery", "percent"));
    s.m_data[{1, 5}] = byte(field(o, "battery", "status"));
    s.m_data[{2, 1}] = byte(field(o, "grounding", "status"));
    s.m_data[{2, 2}] = be16(field(o, "grounding", "resistance"));
    s.m_data[{3, 1}] = be16(field(o, "starter", "extraValue"));
    s.m_data[{3, 2}] = be16(field(o, "starter", "crankingVoltage"));
    s.m_data[{3, 3}] = byte(field(o, "starter", "status"));
    for (int group : {4, 5}) {
        const char *name = group == 4 ? "charging3K" : "charging2K";
        s.m_data[{group, 1}] = be16(field(o, name, "highVoltage"));
        s.m_data[{group, 2}] = be16(field(o, name, "lowVoltage"));
        s.m_data[{group, 3}] = byte(field(o, name, "status"));
    }
    s.m_data[{6, 1}] = be16(field(o, "avg2K", "voltage"));
    s.m_data[{6, 2}] = byte(field(o, "avg2K", "status"));
    // The year byte is the year less 2000, as the tester sends it.
    s.m_data[{7, 1}] =
        byte(field(o, "date", "day")) + byte(field(o, "date", "month")) + byte(field(o, "date", "year"));
    QByteArray registration = Codec::toBytes(o.value(QLatin1String("registrationNo")).toString()).left(16);
    registration.append(QByteArray(16 - registration.size(), '\0'));
    s.m_data[{8, 1}] = registration;
    s.m_data[{9, 1}] = be16(o.value(QLatin1String("capacity")).toInt());
    s.m_silentAfter = o.value(QLatin1String("silentAfter")).toInt(-1);

    // Raw data bytes in hex replace a request's data: {"8,1": "41 42 43"}.
    const QJsonObject raw = o.value(QLatin1String("rawData")).toObject();
    for (auto it = raw.begin(); it != raw.end(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char(','));
        if (parts.size() == 2)
            s.m_data[{parts[0].toInt(), parts[1].toInt()}] =
                QByteArray::fromHex(it.value().toString().toLatin1());
    }

    const QJsonObject faults = o.value(QLatin1String("faults")).toObject();
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char(','));
        const QJsonObject description = it.value().toObject();
        const std::optional<FaultKind> kind = faultKind(description.value(QLatin1String("kind")).toString());
        if (parts.size() != 2 || !kind) {
            if (error)
                *error = QStringLiteral("bad fault entry \"%1\"").arg(it.key());
            return std::nullopt;
        }
        Fault fault;
        fault.kind = *kind;
        fault.value =
            description.value(QLatin1String("value")).toInt(fault.kind == FaultKind::ExtraBytes ? 3 : 0);
        fault.at = description.value(QLatin1String("at")).toInt(0);
        s.m_faults[{parts[0].toInt(), parts[1].toInt()}] = fault;
    }
    return s;
}

Scenario::Fault Scenario::fault(Request request) const
{
    const auto found = m_faults.find(request);
    return found == m_faults.end() ? Fault() : found->second;
}

QByteArray Scenario::reply(Request request) const
{
    const auto found = m_data.find(request);
    if (found == m_data.end())
        return {};
    QByteArray bytes = frame(request, found->second);
    const Fault f = fault(request);
    switch (f.kind) {
    case FaultKind::None:
    case FaultKind::Delay:
    case FaultKind::Split:
    case FaultKind::Vanish:
        break;
    case FaultKind::Silent:
        return {};
    case FaultKind::BadChecksum:
        bytes.back() = static_cast<char>(bytes.back() + 1);
        break;
    case FaultKind::BadStartByte:
        bytes[0] = 0x55;
        bytes = withChecksum(bytes.chopped(1));
        break;
    case FaultKind::LengthByte11:
        bytes[1] = 0x0B;
        bytes = withChecksum(bytes.chopped(1));
        break;
    case FaultKind::Short:
        bytes = frame(request, {});
        break;
    case FaultKind::Truncated:
        bytes = bytes.left(2);
        break;
    case FaultKind::ExtraBytes:
        bytes.append(QByteArray(qMax(1, f.value), static_cast<char>(0x5A)));
        break;
    case FaultKind::Noise:
        bytes.resize(qMax(0, f.value));
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i & 0xFF);
        break;
    }
    return bytes;
}
