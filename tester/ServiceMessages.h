#pragma once

#include <cstddef>
#include <cstdint>

#include "MessageHeader.h"

// Messages between the main window and the service manager (the result messages are in
// TestRecord.h). Packed plain structs, made with makeMessage<M>(id).
#pragma pack(push, 1)
// Window -> service manager: query the tester on this port number (0 to 99).
struct QueryDataRequest
{
    MessageHeader header;
    std::uint16_t portNumber = 0;
};

// Service manager -> window: the query has ended, whatever its outcome.
struct QueryDataFinished
{
    MessageHeader header;
};

// Window -> service manager: export this report picture into a document. Both texts are GBK,
// zero-terminated, cut to the field size less one byte (Codec::toField), "/" as separator.
struct SaveDataRequest
{
    MessageHeader header;
    char picturePath[1024] = {};
    char docPath[256] = {};
};

// How an export ended, as the service manager learnt it.
enum class SaveOutcome : std::uint32_t
{
    Saved = 1,              // the helper closed its job and the document is new at its path
    NotSaved = 2,           // the helper closed its job, but no new document is at its path
    HelperMissing = 3,      // the SaveDataProcess program does not exist
    HelperNotStarted = 4,   // the program could not be started
    EndedBeforeJob = 5,     // the helper ended before it asked for the job
    EndedWithoutResult = 6, // the helper took the job and ended without closing it
    NoResultInTime = 7,     // the helper gave no result within its time bound
};

// Service manager -> window: the outcome of one export, with the document path it was for.
struct SaveDataOutcome
{
    MessageHeader header;
    std::uint32_t outcome = 0; // SaveOutcome
    char docPath[256] = {};
};
#pragma pack(pop)

static_assert(sizeof(QueryDataRequest) == 10 && offsetof(QueryDataRequest, portNumber) == 8);
static_assert(sizeof(QueryDataFinished) == 8);
static_assert(sizeof(SaveDataRequest) == 1288);
static_assert(offsetof(SaveDataRequest, picturePath) == 8 && offsetof(SaveDataRequest, docPath) == 1032);
static_assert(sizeof(SaveDataOutcome) == 268 && offsetof(SaveDataOutcome, outcome) == 8);
static_assert(offsetof(SaveDataOutcome, docPath) == 12);
