#include "config/fault_message.h"

#include "diagnostics/messages.h"

namespace tovi {

bool Fault(host::Cap capacity, char* message, host::Cap text_capacity, const char* text) {
    host::StrCopy(capacity, message, text_capacity, text);
    return false;
}

bool FaultQuoting(host::Cap capacity, char* message, host::Cap text_capacity, const char* text,
                  host::Cap quoted_capacity, const char* quoted) {
    host::StrCopy(capacity, message, text_capacity, text);
    AppendQuoted(capacity, message, quoted_capacity, quoted);
    return false;
}

void AppendQuoted(host::Cap capacity, char* message, host::Cap quoted_capacity, const char* quoted) {
    host::StrAppend(capacity, message, 1, " (");
    host::StrAppend(capacity, message, quoted_capacity, quoted);
    host::StrAppend(capacity, message, 0, ")");
}

bool FaultInternal(host::Cap capacity, char* message) { return Fault(capacity, message, messages::kInternalError); }

}  // namespace tovi
