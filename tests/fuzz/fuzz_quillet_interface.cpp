// The helper protocol as kestrel reads it: QuilletInterface framing, decoding and dispatch on an
// arbitrary byte stream that arrives split at arbitrary points, driven in this thread without a
// socket, the way TcpInterface::onRead hands it the bytes it holds.
//
// Input: byte 0 gives the number of split points (low 3 bits), the next that many bytes the chunk
// lengths; the rest is the stream.
#include <cstdint>
#include <cstring>
#include <vector>

#include <QByteArray>

#include "FuzzSupport.h"
#include "HelperProtocol.h"
#include "MessageReceiver.h"
#include "QuilletInterface.h"
#include "TcpInterface.h"

using namespace HelperProtocol;

namespace {

constexpr std::uint32_t interfaceId = 7;

// Stands in for the service side: keeps what the interface posts.
class Recorder final : public MessageReceiver
{
public:
    bool postMessage(const void *message, std::uint32_t length) override
    {
        posted.append(QByteArray(static_cast<const char *>(message), length));
        return true;
    }
    QList<QByteArray> posted;
};

struct Decoded
{
    QByteArray message;
    int messageClass = 0;
    bool operator==(const Decoded &other) const = default;
};

struct Outcome
{
    std::vector<Decoded> messages; // up to the first framing error
    bool sawError = false;
};

bool isRequestClass(int messageClass)
{
    return messageClass == ClassLoginRequest || messageClass == ClassSaveResultRequest ||
           messageClass == ClassOrdinary;
}

Outcome feed(const QByteArray &stream, const std::vector<qsizetype> &chunks)
{
    QuilletInterface link(interfaceId, nullptr);
    Recorder service;
    QuilletInterface dispatcher(interfaceId, &service);
    Outcome outcome;
    QByteArray held;
    qsizetype offset = 0;
    std::size_t chunk = 0;
    while (offset < stream.size()) {
        const qsizetype length =
            chunk < chunks.size() ? std::min(chunks[chunk++], stream.size() - offset) : stream.size() - offset;
        held += stream.mid(offset, length);
        offset += length;
        for (;;) {
            const QByteArrayView window = QByteArrayView(held).first(std::min(held.size(), TcpInterface::receiveWindow));
            QByteArray message;
            int messageClass = -1;
            bool error = true;
            const qsizetype consumed = link.decode(window, message, messageClass, error);
            FUZZ_CHECK(consumed >= 0 && consumed <= window.size());
            if (consumed == 0) {
                // Waiting is only right for a header that promises a message the window can hold.
                Header header;
                if (peekHeader(window, header))
                    FUZZ_CHECK(header.msgLength >= headerLength && header.msgLength <= maxMessageLength &&
                               header.msgLength > window.size());
                FUZZ_CHECK(!error);
                break;
            }
            if (error) {
                outcome.sawError = true;
            } else {
                FUZZ_CHECK(isRequestClass(messageClass));
                FUZZ_CHECK(message.size() == consumed);
                Header header;
                std::memcpy(&header, message.constData(), sizeof(header));
                FUZZ_CHECK(header.msgLength == static_cast<std::uint32_t>(message.size()));
                FUZZ_CHECK(header.interfaceId == interfaceId);
                if (!outcome.sawError)
                    outcome.messages.push_back({message, messageClass});
                const qsizetype postedBefore = service.posted.size();
                FUZZ_CHECK(dispatcher.onDecodeMessage(message));
                for (qsizetype i = postedBefore; i < service.posted.size(); ++i)
                    FUZZ_CHECK(service.posted[i] == message);
            }
            held.remove(0, consumed);
        }
    }
    // Whatever is still held is the start of one message that has not fully arrived.
    FUZZ_CHECK(held.size() < static_cast<qsizetype>(maxMessageLength));
    return outcome;
}

// kestrel's answers: whatever host-order bytes code() is given, it writes whole exact answers only.
void checkCode(const QByteArray &bytes)
{
    QuilletInterface link(interfaceId, nullptr);
    QByteArray wire;
    int messageClass = -1;
    if (!link.code(bytes, wire, messageClass))
        return;
    Header wireHeader;
    FUZZ_CHECK(peekHeader(wire, wireHeader));
    FUZZ_CHECK(wireHeader.msgLength == static_cast<std::uint32_t>(wire.size()));
    FUZZ_CHECK(wire.size() <= bytes.size());
    switch (wireHeader.msgCommandId) {
    case GetSaveDataResponseId: {
        FUZZ_CHECK(messageClass == ClassLoginAck);
        GetSaveDataResponse response;
        FUZZ_CHECK(decode(wire, response));
        break;
    }
    case SetSaveResultResponseId: {
        FUZZ_CHECK(messageClass == ClassSaveResultAck);
        SetSaveResultResponse response;
        FUZZ_CHECK(decode(wire, response));
        break;
    }
    case WriteRunLogResponseId: {
        FUZZ_CHECK(messageClass == ClassOrdinary);
        WriteRunLogResponse response;
        FUZZ_CHECK(decode(wire, response));
        break;
    }
    default:
        FUZZ_CHECK(!"code() accepted a command that is no answer");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzSupport::ensureApplication();
    if (size == 0)
        return 0;
    const std::size_t splits = data[0] & 7u;
    if (size < 1 + splits)
        return 0;
    std::vector<qsizetype> chunks;
    for (std::size_t i = 0; i < splits; ++i)
        chunks.push_back(1 + data[1 + i] * 16); // up to 4081 bytes, so big messages split too
    const QByteArray stream(reinterpret_cast<const char *>(data + 1 + splits),
                            static_cast<qsizetype>(size - 1 - splits));

    const Outcome split = feed(stream, chunks);
    // Where the stream is cut cannot change what is read from it before the framing is lost.
    const Outcome whole = feed(stream, {});
    FUZZ_CHECK(split.messages == whole.messages);

    checkCode(stream);
    QByteArray hostOrder = stream;
    if (hostOrder.size() >= static_cast<qsizetype>(headerLength)) {
        std::uint32_t length = 0;
        std::memcpy(&length, hostOrder.constData(), sizeof(length));
        if (length <= static_cast<std::uint32_t>(hostOrder.size()))
            wordsToHost(hostOrder.data(), length);
        checkCode(hostOrder);
    }
    return 0;
}
