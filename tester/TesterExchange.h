#pragma once

class QByteArray;
class TesterPort;

// One request and its reply on an open port. The request comes without checksum; it is appended
// here and the buffer is emptied on success. `reply` is replaced by what was read. Failures are
// logged. The query variant also writes hex dumps of both frames to the debug log.
//
// A reply is complete as soon as its length byte says so; the port's time-out T is the longest
// silence allowed before its first byte and between two of its bytes. A reply that cannot be
// framed (no start byte, length byte 0) or stops short is read until T passes without a byte, and
// checked as it is. Bytes left on the line before a request are discarded (and dumped by the query
// variant); after a failed exchange the line must first have been silent for the guard time.
// Once the port is stopped or its device is gone, an exchange returns false without trying.
bool exchangeFrame(TesterPort &port, QByteArray &request, QByteArray &reply);
// The probe variant: no dumps, stricter about the reply's length byte.
bool probeExchange(TesterPort &port, QByteArray &request, QByteArray &reply);

// The silence that brings the line back in step after a failed exchange: twice the time-out, at
// least minimumGuardMs (a 10 ms time-out gives 20 ms).
constexpr int minimumGuardMs = 20;
int guardTimeMs(int timeout);
