#include "output/spill_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/messages.h"
#include "platform/scratch_file.h"

namespace {

// Bytes of the output's name kept in a spill's name, so that the dot, the random part and
// ".pass" still fit the longest file name a directory takes (255).
constexpr size_t kNameKept = 200;

// The directory and name part of the merged log's path.
struct OutputPlace {
  std::string directory;
  std::string name;
};

OutputPlace PlaceOf(std::string_view output_path) {
  if (output_path.empty() || output_path == "-") return {TemporaryDirectory(), "stitcher"};
  const size_t slash = output_path.rfind('/');
  OutputPlace place;
  if (slash == std::string_view::npos) {
    place.directory = ".";
    place.name = output_path;
  } else {
    place.directory = slash == 0 ? "/" : std::string(output_path.substr(0, slash));
    place.name = output_path.substr(slash + 1);
  }
  if (place.name.empty()) place.name = "stitcher";
  if (place.name.size() > kNameKept) place.name.resize(kNameKept);
  return place;
}

FileDescriptor CreateIn(const std::string& directory, const std::string& name) {
  const char* separator = directory.ends_with('/') ? "" : "/";
  return CreateNamelessFile(directory + separator + "." + name + ".", ".pass");
}

std::string Quoted(const std::string& directory) {
  return "'" + EscapedName(directory) + "'";
}

}  // namespace

// ---- Writing -------------------------------------------------------------------------------

SpillWriter::SpillWriter(FileDescriptor file) : file_(std::move(file)) {}

bool SpillWriter::Create(std::string_view output_path) {
  const OutputPlace place = PlaceOf(output_path);
  file_ = CreateIn(place.directory, place.name);
  if (file_.IsOpen()) {
    directory_ = place.directory;
    return true;
  }
  const int refused = errno;
  const std::string temporary = TemporaryDirectory();
  if (temporary == place.directory) {
    return Fail("cannot create a temporary file in " + Quoted(place.directory) + ": " +
                std::strerror(refused));
  }
  file_ = CreateIn(temporary, place.name);
  if (file_.IsOpen()) {
    directory_ = temporary;
    return true;
  }
  return Fail("cannot create a temporary file in " + Quoted(place.directory) + " (" +
              std::strerror(refused) + ") or in " + Quoted(temporary) + " (" +
              std::strerror(errno) + ")");
}

bool SpillWriter::Append(TimeKey key, std::string_view line) {
  if (!error_.empty()) return false;
  if (!file_.IsOpen() || finished_) return Fail("no temporary file is open for writing");
  if (line.size() > kSpillLineMost) {
    return Fail("a line of " + std::to_string(line.size()) +
                " bytes is longer than a temporary file's record can hold");
  }
  if (buffer_ == nullptr) buffer_ = std::make_unique<char[]>(kSpillWriteBuffer);
  const size_t record = kSpillRecordHeader + line.size();
  if (used_ + record > kSpillWriteBuffer && !Flush()) return false;
  const auto length = static_cast<uint32_t>(line.size());
  std::memcpy(buffer_.get() + used_, &key, sizeof key);
  std::memcpy(buffer_.get() + used_ + sizeof key, &length, sizeof length);
  used_ += kSpillRecordHeader;
  if (record <= kSpillWriteBuffer) {
    // Nothing to copy for an empty line, whose data() may be null.
    if (!line.empty()) std::memcpy(buffer_.get() + used_, line.data(), line.size());
    used_ += line.size();
  } else if (!Flush() || !Write(line.data(), line.size())) {
    // A line longer than the buffer goes out directly after its header, uncopied.
    return false;
  }
  ++records_;
  bytes_ += record;
  return true;
}

bool SpillWriter::Finish() {
  if (!error_.empty()) return false;
  if (!file_.IsOpen()) return Fail("no temporary file is open for writing");
  if (!Flush()) return false;
  buffer_.reset();
  finished_ = true;
  if (!SeekTo(file_.Get(), 0)) {
    return Fail("cannot go back to the start of the temporary file in " + Quoted(directory_) +
                ": " + std::strerror(errno));
  }
  return true;
}

bool SpillWriter::Flush() {
  const size_t used = used_;
  used_ = 0;
  return used == 0 || Write(buffer_.get(), used);
}

bool SpillWriter::Write(const char* bytes, size_t size) {
  if (WriteFully(file_.Get(), bytes, size)) return true;
  return Fail("cannot write the temporary file in " + Quoted(directory_) + ": " +
              std::strerror(errno));
}

bool SpillWriter::Fail(std::string what) {
  if (error_.empty()) error_ = std::move(what);
  return false;
}

// ---- Reading -------------------------------------------------------------------------------

SpillReader::SpillReader(FileDescriptor file) : file_(std::move(file)) {}

bool SpillReader::Next(TimeKey& key, std::string_view& line) {
  if (!error_.empty()) return false;
  if (!Fill(kSpillRecordHeader)) {
    if (error_.empty() && Available() != 0) error_ = "the temporary file ends inside a record";
    return false;
  }
  uint32_t length = 0;
  std::memcpy(&key, buffer_.get() + next_, sizeof key);
  std::memcpy(&length, buffer_.get() + next_ + sizeof key, sizeof length);
  if (length > kSpillLineMost) {
    error_ = "the temporary file holds a damaged record";
    return false;
  }
  const size_t record = kSpillRecordHeader + length;
  if (!Fill(record)) {
    if (error_.empty()) error_ = "the temporary file ends inside a record";
    return false;
  }
  line = std::string_view(buffer_.get() + next_ + kSpillRecordHeader, length);
  next_ += record;
  return true;
}

bool SpillReader::Fill(size_t wanted) {
  if (Available() >= wanted) return true;
  if (!file_.IsOpen()) {
    error_ = "no temporary file is open for reading";
    return false;
  }
  const size_t kept = Available();
  // The buffer grows for a record longer than the usual size and shrinks back after it.
  const size_t size = std::max(wanted, kSpillReadBuffer);
  if (capacity_ < wanted || capacity_ > size) {
    auto bigger = std::make_unique<char[]>(size);
    if (kept != 0) std::memcpy(bigger.get(), buffer_.get() + next_, kept);
    buffer_ = std::move(bigger);
    capacity_ = size;
  } else if (kept != 0) {
    std::memmove(buffer_.get(), buffer_.get() + next_, kept);
  }
  next_ = 0;
  end_ = kept;
  while (end_ < wanted) {
    const int64_t n = ReadSome(file_.Get(), buffer_.get() + end_, capacity_ - end_);
    if (n < 0) {
      error_ = std::string("cannot read the temporary file: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) return false;
    end_ += static_cast<size_t>(n);
  }
  return true;
}
