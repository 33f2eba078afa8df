// Texts of Windows Sockets error codes, and the report text built from them.
#pragma once
#include <string>

namespace ftp {

// "No Error" for 0, the table's text for a known code, else
// "Not a WinSock error".
const char* WinsockErrorText(int code);

// "Error N in function OPERATION: \r\n" + WinsockErrorText(N).
std::string winsockErrorReport(int code, const std::string& operation);

} // namespace ftp
