#include "HistoryMessages.h"

#include <cstring>

#include "Codec.h"

namespace {

void keyToBytes(const QUuid &key, std::uint8_t (&bytes)[16])
{
    const QByteArray rfc = key.toRfc4122();
    std::memcpy(bytes, rfc.constData(), sizeof(bytes));
}

QUuid keyFromBytes(const std::uint8_t (&bytes)[16])
{
    return QUuid::fromRfc4122(QByteArrayView(bytes, sizeof(bytes)));
}

} // namespace

HistoryRecordMessage toMessage(const HistoryRecord &record)
{
    auto message = makeMessage<HistoryRecordMessage>(MSG_HISTORY_RECORD);
    keyToBytes(record.key, message.key);
    message.testedUtcMs = record.testedUtcMs;
    message.utcOffsetSeconds = record.utcOffsetSeconds;
    Codec::toField(record.portName, message.portName, sizeof(message.portName));
    Codec::toField(record.customer, message.customer, sizeof(message.customer));
    Codec::toField(record.batteryModel, message.batteryModel, sizeof(message.batteryModel));
    message.record = record.record;
    return message;
}

HistoryRecord fromMessage(const HistoryRecordMessage &message, const QString &workstation)
{
    HistoryRecord record;
    record.key = keyFromBytes(message.key);
    record.workstation = workstation;
    record.testedUtcMs = message.testedUtcMs;
    record.utcOffsetSeconds = message.utcOffsetSeconds;
    record.portName = Codec::fromField(message.portName, sizeof(message.portName));
    record.customer = Codec::fromField(message.customer, sizeof(message.customer));
    record.batteryModel = Codec::fromField(message.batteryModel, sizeof(message.batteryModel));
    record.record = message.record;
    return record;
}

HistoryEventMessage toMessage(const HistoryEvent &event)
{
    auto message = makeMessage<HistoryEventMessage>(MSG_HISTORY_EVENT);
    keyToBytes(event.key, message.key);
    message.kind = static_cast<std::int32_t>(event.kind);
    message.utcMs = event.utcMs;
    Codec::toField(event.documentPath, message.documentPath, sizeof(message.documentPath));
    Codec::toField(event.picturePath, message.picturePath, sizeof(message.picturePath));
    Codec::toField(event.outcome, message.outcome, sizeof(message.outcome));
    return message;
}

HistoryEvent fromMessage(const HistoryEventMessage &message)
{
    HistoryEvent event;
    event.key = keyFromBytes(message.key);
    event.kind = static_cast<HistoryEventKind>(message.kind);
    event.utcMs = message.utcMs;
    event.documentPath = Codec::fromField(message.documentPath, sizeof(message.documentPath));
    event.picturePath = Codec::fromField(message.picturePath, sizeof(message.picturePath));
    event.outcome = Codec::fromField(message.outcome, sizeof(message.outcome));
    return event;
}
