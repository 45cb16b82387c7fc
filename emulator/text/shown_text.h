// Bytes from a file made fit for a terminal: texts of the parameter file and the
// module-type database are Windows-1250 (as the driver and the host read them) and
// are shown as UTF-8; scenario and device-set texts are UTF-8 already. Control
// bytes, and bytes that stand for no character, appear as \xHH. Widths count
// characters, so that table columns stay aligned whatever the names hold.
#pragma once

#include <cstddef>
#include <string>

namespace tovihost {

// Length of the well-formed UTF-8 sequence of two or more bytes at text[at], or 0.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at);
// A Windows-1250 text as UTF-8, unprintable bytes as \xHH.
std::string ShownCp1250(const std::string& bytes);
// A UTF-8 text with its control bytes and broken sequences as \xHH.
std::string ShownUtf8(const std::string& bytes);
// Characters (terminal columns) of a UTF-8 text.
std::size_t Columns(const std::string& utf8);
// The text filled with blanks to width columns; a longer text is kept whole.
std::string PadColumns(const std::string& utf8, std::size_t width);
// A CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or
// a line end.
std::string CsvField(const std::string& text);
// The text cut to width columns (the last one then a '~'), or filled to it.
std::string FitColumns(const std::string& utf8, std::size_t width);

}  // namespace tovihost
