#include "driver/output_file.h"

#include "driver/temporary_name.h"

namespace ruxa {

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t end = path.find_last_of(platform::kPathSeparators);
  if (end == std::string::npos) return ".";
  return path.substr(0, end == 0 ? 1 : end);
}

// The seed of this process's temporary names.
std::uint64_t& Seed() {
  static std::uint64_t seed = platform::NameSeed();
  return seed;
}

}  // namespace

OutputFile::Created OutputFile::Create(const std::string& path, Links links,
                                       const platform::FileId& input, platform::Reason& why,
                                       Listing listing) {
  // An empty name names no file, yet the system takes it for a new file in the current folder
  // until the last step: refused here, before any byte is converted.
  if (path.empty()) {
    why = "No such file or directory";
    return Created::No;
  }
  const bool follow = links == Links::Follow;
  // A name the folder's listing did not have is taken to be new: should it exist after all by
  // the time the output is put in place, the file there is replaced, which never follows a link.
  platform::FileInfo info;
  if (!(!follow && listing == Listing::NotListed) &&
      !platform::DescribePath(path, follow, info, why)) {
    return Created::No;
  }
  const bool exists = info.kind != platform::FileKind::Missing;
  target_ = path;
  if (exists) {
    if (info.kind == platform::FileKind::Directory) {
      why = "Is a directory";
      return Created::No;
    }
    platform::FileInfo linked;
    platform::Reason ignored;
    if (info.id == input || (info.kind == platform::FileKind::Link &&
                             platform::DescribePath(path, true, linked, ignored) &&
                             linked.kind != platform::FileKind::Missing && linked.id == input)) {
      why = "it is the input file";
      return Created::IsInput;
    }
    // A device, a pipe, or the file the console itself goes to: written directly, as named.
    if (follow && (info.kind == platform::FileKind::Other || platform::IsConsoleFile(info.id))) {
      way_ = Way::Direct;
      return Created::Yes;
    }
  }
  // The old file is replaced by putting the new one in its place, so a name reached through
  // links must be resolved to the file the links lead to. A name that only looks like a link
  // (/proc's descriptors) does not lead back to the same file; such an output is written
  // directly.
  if (follow && !platform::ResolveLinks(path, target_, why)) return Created::No;
  if (follow && exists && target_ != path) {
    platform::FileInfo resolved;
    if (!platform::DescribePath(target_, true, resolved, why) || resolved.id != info.id) {
      target_ = path;
      way_ = Way::Direct;
      return Created::Yes;
    }
  }
  return CreateNewFile(exists, info.kind == platform::FileKind::Regular, why);
}

OutputFile::Created OutputFile::CreateNewFile(bool exists, bool regular, platform::Reason& why) {
  // A new output starts as a file without a name, which vanishes by itself if the run ends before
  // it is complete; Commit gives it its name.
  if (!exists && platform::CreateUnnamed(FolderOf(target_), file_)) {
    way_ = Way::Unnamed;
    return Created::Yes;
  }
  const platform::CreateError error = NameTemporary(false, why);
  if (error == platform::CreateError::None) {
    way_ = Way::Temporary;
    // A replaced file keeps its permission bits (and, where we may, its owner).
    replace_existing_ = exists && regular;
    if (replace_existing_) platform::CopyPermissions(file_, target_);
    return Created::Yes;
  }
  // A folder that refuses new files may still let its files be written: an existing output is
  // then emptied and written in place, as it is.
  if (error == platform::CreateError::Refused && exists && regular) {
    way_ = Way::InPlace;
    return Created::Yes;
  }
  return Created::No;
}

platform::CreateError OutputFile::NameTemporary(bool unnamed, platform::Reason& why) {
  platform::CreateError error = platform::CreateError::Other;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Every other try takes the short form, for a name too long to extend.
    const std::string name =
        TemporaryName(target_, platform::kPathSeparators, attempt % 2 == 1, Seed());
    platform::WithInterruptsHeld([&] {
      error =
          unnamed ? platform::NameUnnamed(file_, name, why) : platform::CreateNew(name, file_, why);
      if (error == platform::CreateError::None) {
        temporary_ = name;
        platform::SetCleanupFile(name);
      }
    });
    if (error != platform::CreateError::Exists && error != platform::CreateError::NameTooLong) {
      return error;
    }
  }
  why = "no free temporary name";
  return error;
}

bool OutputFile::Open(platform::Reason& why) {
  if (!WritesExistingFile() || file_.is_open()) return true;
  // In place, a link put there since the name was looked at is not written through.
  if (!platform::OpenExisting(target_, way_ == Way::Direct, file_, why)) return false;
  return file_.Describe().kind != platform::FileKind::Regular || file_.Truncate(why);
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, platform::Reason& why) {
  return file_.Write(data, size, why);
}

void OutputFile::Discard() {
  // Written directly: only a regular file that is not the console's own (whose lines would go
  // too) is emptied.
  if (way_ == Way::Direct) {
    const platform::FileInfo info = file_.Describe();
    if (info.kind != platform::FileKind::Regular || platform::IsConsoleFile(info.id)) return;
  }
  platform::Reason ignored;
  file_.Truncate(ignored);
}

bool OutputFile::Commit(platform::Reason& why) {
  if (way_ == Way::Unnamed) {
    const platform::CreateError named = platform::NameUnnamed(file_, target_, why);
    if (named == platform::CreateError::None) {
      way_ = Way::Direct;
      if (file_.Close(why)) return true;
      platform::Remove(target_);  // there was no file of that name before
      return false;
    }
    // A file of that name has appeared meanwhile: the new one gets a temporary name, and is
    // put in its place like any other.
    if (named != platform::CreateError::Exists ||
        NameTemporary(true, why) != platform::CreateError::None) {
      Abandon();
      return false;
    }
    way_ = Way::Temporary;
  }
  if (!file_.Close(why)) {
    Abandon();
    return false;
  }
  return way_ != Way::Temporary || PutInPlace(why);
}

bool OutputFile::PutInPlace(platform::Reason& why) {
  bool replaced = false;
  platform::WithInterruptsHeld([&] {
    replaced = platform::Replace(temporary_, target_, replace_existing_, why);
    if (replaced) platform::SetCleanupFile("");
  });
  if (replaced) {
    temporary_.clear();
    return true;
  }
  // A replacement in two steps (Windows) may fail between them, with the old file gone: the new
  // one is then the only copy left, and stays under its temporary name.
  platform::FileInfo now;
  platform::Reason ignored;
  if (replace_existing_ && platform::DescribePath(target_, false, now, ignored) &&
      now.kind == platform::FileKind::Missing) {
    why += "; the new file is kept as '" + temporary_ + "'";
    platform::WithInterruptsHeld([] { platform::SetCleanupFile(""); });
    temporary_.clear();
    return false;
  }
  Abandon();
  return false;
}

void OutputFile::Abandon() {
  platform::Reason ignored;
  if (file_.is_open()) file_.Close(ignored);
  if (temporary_.empty()) return;
  platform::WithInterruptsHeld([this] {
    platform::Remove(temporary_);
    platform::SetCleanupFile("");
  });
  temporary_.clear();
}

}  // namespace ruxa
