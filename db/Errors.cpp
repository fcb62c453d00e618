#include "Errors.h"

#include "Text.h"

namespace db {

EDatabaseError::EDatabaseError(std::u16string message, std::string sqlState, long nativeError)
    : message_(std::move(message))
    , utf8_(toUtf8(message_))
    , sqlState_(std::move(sqlState))
    , nativeError_(nativeError)
{
}

} // namespace db
