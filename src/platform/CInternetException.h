#pragma once
#include <stdexcept>
#include <string>

// Any failure of the FTP layer that ends a run: refused login, broken or
// stalled connection, failed listing or transfer, cancellation.
class CInternetException : public std::runtime_error {
public:
    CInternetException(int code, const std::string& what, const std::string& reason = {})
        : std::runtime_error(what), m_code(code), m_reason(reason.empty() ? what : reason)
    {}
    int Code() const { return m_code; }
    // Why, in words a user can read ("the server's certificate is not trusted").
    const std::string& Reason() const { return m_reason; }

private:
    int m_code;
    std::string m_reason;
};
