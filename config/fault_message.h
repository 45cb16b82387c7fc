// Writing a configuration fault into the caller's bounded message buffer. Each
// writer replaces the buffer's content, cuts at its capacity and returns false, so
// that a failing step can end with `return Fault...(...)`.
#pragma once

#include "diagnostics/cp1250.h"
#include "host/text.h"

namespace tovi {

// message := text.
bool Fault(host::Cap capacity, char* message, host::Cap text_capacity, const char* text);
// message := text + " (" + quoted + ")".
bool FaultQuoting(host::Cap capacity, char* message, host::Cap text_capacity, const char* text,
                  host::Cap quoted_capacity, const char* quoted);
// message := message + " (" + quoted + ")", for messages built in several steps.
void AppendQuoted(host::Cap capacity, char* message, host::Cap quoted_capacity, const char* quoted);
// message := "Vnitřní chyba": an object of the configuration could not be allocated.
bool FaultInternal(host::Cap capacity, char* message);

template <std::size_t N>
bool Fault(host::Cap capacity, char* message, const text::Cp1250Text<N>& text) {
    return Fault(capacity, message, text.capacity(), text.c_str());
}

template <std::size_t N>
bool FaultQuoting(host::Cap capacity, char* message, const text::Cp1250Text<N>& text, host::Cap quoted_capacity,
                  const char* quoted) {
    return FaultQuoting(capacity, message, text.capacity(), text.c_str(), quoted_capacity, quoted);
}

}  // namespace tovi
