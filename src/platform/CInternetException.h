#pragma once
#include <stdexcept>
#include <string>

// Any failure of the FTP layer that ends a run: refused login, broken or
// stalled connection, failed listing or transfer, cancellation.
class CInternetException : public std::runtime_error {
public:
    CInternetException(int code, const std::string& what) : std::runtime_error(what), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};
