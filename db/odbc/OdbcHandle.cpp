#include "db/odbc/OdbcHandle.h"

#include <utility>

namespace db::detail {

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept
    : type_(other.type_)
    , handle_(std::exchange(other.handle_, SQLHANDLE{}))
{
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        type_ = other.type_;
        handle_ = std::exchange(other.handle_, SQLHANDLE{});
    }
    return *this;
}

void OdbcHandle::reset() noexcept
{
    if (handle_ != SQL_NULL_HANDLE) {
        SQLFreeHandle(type_, handle_);
        handle_ = SQL_NULL_HANDLE;
    }
}

} // namespace db::detail
