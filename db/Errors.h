// The data layer's exceptions.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace db {

// Every failure of the data layer, the driver or the server. The message is
// what the user may see; SqlState/NativeError are filled when a driver
// diagnostic stands behind it (empty / 0 otherwise).
class EDatabaseError : public std::exception {
public:
    explicit EDatabaseError(std::u16string message, std::string sqlState = {}, long nativeError = 0);

    const std::u16string& Message() const noexcept { return message_; }
    const std::string& SqlState() const noexcept { return sqlState_; }
    long NativeError() const noexcept { return nativeError_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string message_;
    std::string utf8_;
    std::string sqlState_;
    long nativeError_ = 0;
};

// A failure reported by the ODBC driver manager, the driver or the server
// (through a diagnostic record).
class EOdbcError : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// The SQLSTATE of a statement a cancel stopped ("Operation canceled").
inline constexpr std::string_view CancelledState = "HY008";

// A deliberate, silent stop: callers catch it and show nothing.
class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// The message when no driver for the provider can be used at all.
inline constexpr std::u16string_view MissingComponentsMessage =
    u"Error creating object.  Please verify that the Microsoft Data Access Components 2.1 "
    u"(or later) have been properly installed";

} // namespace db
