// TLS record framing: header checks and the run of whole records.
#include "ftp/tls_record.h"

namespace ftp {

TlsRecordFrame frameRecord(const unsigned char* data, std::size_t length)
{
    TlsRecordFrame f;
    if (length == 0) return f;
    const unsigned type = data[0];
    if (type < unsigned(TlsContent::ChangeCipherSpec) || type > unsigned(TlsContent::ApplicationData)) {
        f.status = TlsRecordFrame::Invalid;
        return f;
    }
    f.type = TlsContent(type);
    // Every TLS version so far writes major version 3 (SSL 3.0 numbering).
    if (length >= 2 && data[1] != 3) {
        f.status = TlsRecordFrame::Invalid;
        return f;
    }
    if (length < kTlsHeaderSize) return f;
    const std::size_t body = (std::size_t(data[3]) << 8) | data[4];
    if (body == 0 || body > kTlsMaxBody) {
        f.status = TlsRecordFrame::Invalid;
        return f;
    }
    if (length < kTlsHeaderSize + body) return f;
    f.status = TlsRecordFrame::Whole;
    f.size = kTlsHeaderSize + body;
    return f;
}

TlsRecordRun wholeRecords(const unsigned char* data, std::size_t length)
{
    TlsRecordRun run;
    while (run.bytes < length) {
        const TlsRecordFrame f = frameRecord(data + run.bytes, length - run.bytes);
        if (f.status == TlsRecordFrame::Invalid) {
            run.invalid = true;
            break;
        }
        if (f.status == TlsRecordFrame::Partial) break;
        run.bytes += f.size;
        ++run.records;
    }
    return run;
}

} // namespace ftp
