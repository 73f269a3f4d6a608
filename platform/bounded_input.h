// Text that comes from outside the program (an answer script, lines typed on the
// terminal, a transcript to print, a file to pack) read within bounds. Only a regular
// file is opened: a FIFO or a device is refused at once, before a byte is read, since
// it may make the reader wait for ever (a FIFO without a writer) or never end
// (/dev/zero). Standard input may also be a terminal or a pipe (someone types, or a
// program writes what it means). Whatever is read stops at a line length and a total
// size far above any real input; past them the input is refused, not cut.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace varmex::platform {

struct InputLimits {
  size_t maxBytes;  // the whole input
  size_t maxLine;   // one line, without its line feed
};

// Answer scripts and actions typed on the terminal: a line is an action ("set 1021"
// and a path of at most 255 characters), a script a few dozen of them.
inline constexpr InputLimits kActionLimits = {1024 * 1024, 4096};

enum class FileRead {
  kRead,
  kMissing,     // no such file (or no such folder on its way)
  kFolder,      // a folder
  kNotRegular,  // a FIFO, a device or a socket: not opened for reading
  kTooLarge,    // more than the bytes allowed
  kUnreadable,  // access denied, or a read error
};

// Reads the whole of the regular file `path` into `contents` (emptied unless kRead).
FileRead ReadRegularFile(const std::string& path, size_t maxBytes, std::string& contents);

// What a refusal of a file is, for the messages: "not a regular file (a pipe or a
// device)", "larger than N bytes" ...
std::string DescribeFileRead(FileRead read, size_t maxBytes);

// The number (from 1) of the first line of `text` longer than `maxLine` bytes, or 0.
size_t FirstLongLine(std::string_view text, size_t maxLine);

enum class LineRead {
  kLine,      // `line` holds the next line, without its line feed
  kEnd,       // nothing more to read
  kLongLine,  // the line runs past maxLine bytes: reading stops inside it
  kTooMuch,   // the input runs past `budget` bytes: reading stops there
};

// Reads the next line of `in`, at most `maxLine` bytes of it, taking the bytes read
// (line feed included) from `budget`. A last line without a line feed is a line.
LineRead ReadBoundedLine(std::istream& in, size_t maxLine, size_t& budget, std::string& line);

// Why standard input is not read: "a device" for a device that is not a terminal
// (/dev/zero, /dev/null), "a socket"; empty for a terminal, a file, a pipe, or no
// standard input at all (reading it then ends at once).
std::string StandardInputRefusal();

}  // namespace varmex::platform
