// The helper protocol as quillet reads it: kestrel's GetSaveData response with its five texts, and
// the SetSaveResult and WriteRunLog answers, decoded from whatever bytes arrive.
//
// Input: byte 0 chooses the form. 'R' puts the rest after a valid GetSaveData response header
// (padded or cut to the message's length), so the texts and the result word get explored; any
// other value hands the rest to every decoder as it is.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <QByteArray>

#include "Codec.h"
#include "FuzzSupport.h"
#include "HelperProtocol.h"
#include "RunLogLine.h"
#include "SaveData.h"

using namespace HelperProtocol;

namespace {

template <typename M>
void checkDecoder(const QByteArray &wire, std::uint32_t command)
{
    M message;
    std::memset(static_cast<void *>(&message), 0xA5, sizeof(message));
    const bool decoded = decode(wire, message);
    Header header;
    const bool hasHeader = peekHeader(wire, header);
    FUZZ_CHECK(hasHeader == (wire.size() >= static_cast<qsizetype>(headerLength)));
    const bool expected = wire.size() == static_cast<qsizetype>(sizeof(M)) && header.msgLength == sizeof(M) &&
                          header.msgCommandId == command;
    FUZZ_CHECK(decoded == expected);
    if (decoded) {
        FUZZ_CHECK(message.header.msgLength == sizeof(M) && message.header.msgCommandId == command);
        // Nothing is lost or reordered on the way in.
        FUZZ_CHECK(encode(message) == wire);
    }
}

// What quillet takes from a response: the result and the five texts, each cut at its field.
void checkSaveData(const QByteArray &wire)
{
    GetSaveDataResponse response;
    if (!decode(wire, response))
        return;
    SaveData data;
    data.title = Codec::fromField(response.title, sizeof(response.title));
    data.header = Codec::fromField(response.pageHeader, sizeof(response.pageHeader));
    data.footer = Codec::fromField(response.pageFooter, sizeof(response.pageFooter));
    data.picturePath = Codec::fromField(response.picturePath, sizeof(response.picturePath));
    data.docPath = Codec::fromField(response.docPath, sizeof(response.docPath));
    FUZZ_CHECK(data.title.size() <= static_cast<qsizetype>(sizeof(response.title)));
    FUZZ_CHECK(data.header.size() <= static_cast<qsizetype>(sizeof(response.pageHeader)));
    FUZZ_CHECK(data.footer.size() <= static_cast<qsizetype>(sizeof(response.pageFooter)));
    FUZZ_CHECK(data.picturePath.size() <= static_cast<qsizetype>(sizeof(response.picturePath)));
    FUZZ_CHECK(data.docPath.size() <= static_cast<qsizetype>(sizeof(response.docPath)));
    for (const QString *text : {&data.title, &data.header, &data.footer, &data.picturePath, &data.docPath})
        FUZZ_CHECK(!text->contains(QChar(0)));

    // A text kestrel puts back into a field (as it does when it builds the response) fits with its zero.
    GetSaveDataResponse echo = make<GetSaveDataResponse>(GetSaveDataResponseId);
    Codec::toField(data.title, echo.title, sizeof(echo.title));
    Codec::toField(data.docPath, echo.docPath, sizeof(echo.docPath));
    FUZZ_CHECK(echo.title[sizeof(echo.title) - 1] == 0 && echo.docPath[sizeof(echo.docPath) - 1] == 0);

    // The run-log lines quillet sends about a response it refuses.
    Header header;
    peekHeader(wire, header);
    const QByteArray line =
        RunLogLine::format("GetSaveData error, invalid response, msgLength:%u, msgCommandId:%u", header.msgLength,
                           header.msgCommandId);
    FUZZ_CHECK(line.startsWith("GetSaveData error") && !line.contains('\0'));
    const QByteArray title = Codec::toBytes(data.title);
    const QByteArray echoed = RunLogLine::format("%s", title.constData());
    FUZZ_CHECK(echoed == title.left(title.indexOf('\0') < 0 ? title.size() : title.indexOf('\0')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzSupport::ensureApplication();
    if (size == 0)
        return 0;
    QByteArray wire(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    if (data[0] == 'R') {
        const GetSaveDataResponse response = make<GetSaveDataResponse>(GetSaveDataResponseId);
        QByteArray framed = encode(response).first(headerLength);
        framed += wire;
        framed.resize(sizeof(GetSaveDataResponse), '\0');
        wire = framed;
    }
    checkDecoder<GetSaveDataRequest>(wire, GetSaveDataRequestId);
    checkDecoder<GetSaveDataResponse>(wire, GetSaveDataResponseId);
    checkDecoder<SetSaveResultRequest>(wire, SetSaveResultRequestId);
    checkDecoder<SetSaveResultResponse>(wire, SetSaveResultResponseId);
    checkDecoder<WriteRunLogRequest>(wire, WriteRunLogRequestId);
    checkDecoder<WriteRunLogResponse>(wire, WriteRunLogResponseId);
    checkSaveData(wire);
    return 0;
}
