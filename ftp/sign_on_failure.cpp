#include "ftp/sign_on_failure.h"

#include <winsock2.h>

#include <algorithm>
#include <iterator>

namespace ftp {
namespace {

// Connects that may work a moment later: nobody listening yet or any more,
// a connection cut, a route that comes and goes.
constexpr int kPassingSocketErrors[] = {
    WSAENETDOWN, WSAENETUNREACH, WSAENETRESET, WSAECONNABORTED, WSAECONNRESET,
    WSAETIMEDOUT, WSAECONNREFUSED, WSAEHOSTDOWN, WSAEHOSTUNREACH,
};

} // namespace

const char* signOnFailureName(SignOnFailure kind)
{
    switch (kind) {
    case SignOnFailure::None: return "None";
    case SignOnFailure::Passing: return "Passing";
    case SignOnFailure::Final: return "Final";
    }
    return "?";
}

bool wellFormedReply(const std::string& line)
{
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '5' &&
           line[2] >= '0' && line[2] <= '9' && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

SignOnFailure classifySignOn(const SignOnOutcome& o)
{
    if (o.refused || o.tls != TlsProblem::None) return SignOnFailure::Final;
    // A name that does not resolve stays unresolved; "try again" is the
    // resolver's own word for a passing failure.
    if (o.lookupFailed) return o.socketError == WSATRY_AGAIN ? SignOnFailure::Passing : SignOnFailure::Final;
    if (o.socketError != 0)
        return std::find(std::begin(kPassingSocketErrors), std::end(kPassingSocketErrors), o.socketError) !=
                       std::end(kPassingSocketErrors)
                   ? SignOnFailure::Passing
                   : SignOnFailure::Final;
    // A reply that cannot be read may be a line damaged on the way.
    if (!wellFormedReply(o.reply)) return SignOnFailure::Passing;
    // 5xx refuses for good (530: the login is wrong); 4xx is a passing
    // refusal ("421 Too many connections"), and so are the connection
    // closed or no answer in time (426, made up here). A reply that makes
    // no sense at this point is taken as damaged too.
    return o.code >= 500 && o.code < 600 ? SignOnFailure::Final : SignOnFailure::Passing;
}

} // namespace ftp
