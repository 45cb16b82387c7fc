#include "config/io_type.h"

namespace tovi {

IoTypeMatch IoTypeFromKeyword(host::Cap capacity, char* keyword) {
    host::StrLower(capacity, keyword);
    for (const IoTypeInfo& info : kIoTypes) {
        if (host::StrCompare(capacity, keyword, 79, info.keyword) == 0) {
            return {true, info.io_type, info.expected_type};
        }
    }
    return {false, kIoNone, kTypeNone};
}

const char* KeywordOfIoType(std::int32_t io_type) {
    for (const IoTypeInfo& info : kIoTypes) {
        if (info.io_type == io_type) return info.keyword;
    }
    return nullptr;
}

}  // namespace tovi
