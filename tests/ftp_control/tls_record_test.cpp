// TLS record framing and the certificate verdicts, as tables: headers that
// are whole, partial or no TLS at all, runs of records cut at every
// possible point, and policy errors mapped to the reasons shown to users.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/tls_record.h"
#include "ftp/tls_session.h"

using namespace ftp;

namespace {

std::string record(unsigned type, std::size_t body, char fill = 'x', unsigned major = 3)
{
    std::string r;
    r.push_back(char(type));
    r.push_back(char(major));
    r.push_back(char(3));
    r.push_back(char(body >> 8));
    r.push_back(char(body & 0xff));
    r.append(body, fill);
    return r;
}

const unsigned char* bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(TlsRecord, FrameTable)
{
    struct Row {
        const char* what;
        std::string data;
        TlsRecordFrame::Status status;
        std::size_t size;
    };
    const std::vector<Row> rows = {
        {"nothing yet", "", TlsRecordFrame::Partial, 0},
        {"type byte only", std::string(1, char(22)), TlsRecordFrame::Partial, 0},
        {"header cut", record(22, 4).substr(0, 4), TlsRecordFrame::Partial, 0},
        {"body cut", record(23, 100).substr(0, 50), TlsRecordFrame::Partial, 0},
        {"whole handshake", record(22, 4), TlsRecordFrame::Whole, 9},
        {"whole alert", record(21, 2), TlsRecordFrame::Whole, 7},
        {"whole cipher-change record (type 20)", record(20, 1), TlsRecordFrame::Whole, 6},
        {"whole with more behind", record(23, 10) + record(23, 3), TlsRecordFrame::Whole, 15},
        {"largest body", record(23, kTlsMaxBody), TlsRecordFrame::Whole, kTlsMaxBody + 5},
        {"body too long", record(23, kTlsMaxBody + 1), TlsRecordFrame::Invalid, 0},
        {"empty body", record(23, 0), TlsRecordFrame::Invalid, 0},
        {"plain FTP reply", "500 AUTH not understood\r\n", TlsRecordFrame::Invalid, 0},
        {"plain reply, first byte only", "5", TlsRecordFrame::Invalid, 0},
        {"unknown type 24", record(24, 4), TlsRecordFrame::Invalid, 0},
        {"type 19", record(19, 4), TlsRecordFrame::Invalid, 0},
        {"SSL 2 style major version", record(22, 4, 'x', 2), TlsRecordFrame::Invalid, 0},
    };
    for (const Row& r : rows) {
        const TlsRecordFrame f = frameRecord(bytes(r.data), r.data.size());
        EXPECT_EQ(f.status, r.status) << r.what;
        EXPECT_EQ(f.size, r.size) << r.what;
    }
}

TEST(TlsRecord, TypeOfWholeRecord)
{
    const std::string alert = record(21, 2);
    EXPECT_EQ(frameRecord(bytes(alert), alert.size()).type, TlsContent::Alert);
    const std::string data = record(23, 2);
    EXPECT_EQ(frameRecord(bytes(data), data.size()).type, TlsContent::ApplicationData);
}

TEST(TlsRecord, RunTable)
{
    const std::string a = record(22, 40, 'a'), b = record(22, 7, 'b'), c = record(23, 300, 'c');
    struct Row {
        const char* what;
        std::string data;
        std::size_t bytes, records;
        bool invalid;
    };
    const std::vector<Row> rows = {
        {"empty", "", 0, 0, false},
        {"one whole", a, a.size(), 1, false},
        {"three whole", a + b + c, a.size() + b.size() + c.size(), 3, false},
        {"two whole, third partial", a + b + c.substr(0, 100), a.size() + b.size(), 2, false},
        {"first partial", a.substr(0, 10), 0, 0, false},
        {"whole, then plain text", a + "220 ready\r\n", a.size(), 1, true},
        {"plain text first", "421 bye\r\n" + a, 0, 0, true},
    };
    for (const Row& r : rows) {
        const TlsRecordRun run = wholeRecords(bytes(r.data), r.data.size());
        EXPECT_EQ(run.bytes, r.bytes) << r.what;
        EXPECT_EQ(run.records, r.records) << r.what;
        EXPECT_EQ(run.invalid, r.invalid) << r.what;
    }
}

// Bytes arrive in pieces of every size from 1 to 40: taking whole records
// off the front as they complete yields the same records, in order, with
// nothing lost or doubled and no partial record handed on.
TEST(TlsRecord, PiecesOfEverySizeGiveTheSameRecords)
{
    const std::vector<std::string> sent = {record(22, 90, 'h'), record(20, 1, 'c'),
                                           record(22, 40, 'f'), record(23, 700, 'd'),
                                           record(21, 2, 'a')};
    std::string stream;
    for (const std::string& r : sent) stream += r;
    for (std::size_t piece = 1; piece <= 40; ++piece) {
        std::string buffer;
        std::vector<std::string> got;
        for (std::size_t pos = 0; pos < stream.size(); pos += piece) {
            buffer += stream.substr(pos, piece);
            const TlsRecordRun run = wholeRecords(bytes(buffer), buffer.size());
            ASSERT_FALSE(run.invalid) << "piece " << piece;
            std::size_t at = 0;
            for (std::size_t i = 0; i < run.records; ++i) {
                const TlsRecordFrame f = frameRecord(bytes(buffer) + at, buffer.size() - at);
                got.push_back(buffer.substr(at, f.size));
                at += f.size;
            }
            ASSERT_EQ(at, run.bytes);
            buffer.erase(0, run.bytes);
        }
        EXPECT_EQ(got, sent) << "piece " << piece;
        EXPECT_TRUE(buffer.empty()) << "piece " << piece;
    }
}

TEST(TlsCertificate, PolicyErrorTable)
{
    struct Row {
        DWORD error;
        TlsProblem problem;
    };
    const Row rows[] = {
        {0, TlsProblem::None},
        {DWORD(CERT_E_UNTRUSTEDROOT), TlsProblem::Untrusted},
        {DWORD(CERT_E_CHAINING), TlsProblem::Untrusted},
        {DWORD(CERT_E_UNTRUSTEDCA), TlsProblem::Untrusted},
        {DWORD(TRUST_E_CERT_SIGNATURE), TlsProblem::Untrusted},
        {DWORD(CERT_E_EXPIRED), TlsProblem::Expired},
        {DWORD(CERT_E_VALIDITYPERIODNESTING), TlsProblem::Expired},
        {DWORD(CERT_E_CN_NO_MATCH), TlsProblem::WrongName},
        {DWORD(CERT_E_REVOKED), TlsProblem::Certificate},
        {DWORD(CERT_E_WRONG_USAGE), TlsProblem::Certificate},
    };
    for (const Row& r : rows)
        EXPECT_EQ(certificateProblem(r.error), r.problem) << std::hex << r.error;
}

} // namespace
