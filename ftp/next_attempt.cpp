#include "ftp/next_attempt.h"

namespace ftp {

bool worthChecking(const AttemptRecord& r)
{
    return r.ownCopy && r.sentWhole && !r.refuted && !r.noResume;
}

bool mayResume(const AttemptRecord& r, bool restStream)
{
    return r.ownCopy && !r.noResume && restStream;
}

std::int64_t resumeOffset(const AttemptRecord& r, bool restStream, std::int64_t serverSize, std::int64_t localSize)
{
    if (!mayResume(r, restStream)) return 0;
    return serverSize > 0 && serverSize < localSize ? serverSize : 0;
}

} // namespace ftp
