#include "run/run_context.h"

#include "base/module_path.h"
#include "base/path_functions.h"
#include "base/text_encoding.h"
#include "notice/notice.h"
#include "runlog/run_log.h"
#include "settings/settings.h"

namespace vantu {
namespace {

std::optional<RunOutcome> Refuse(RunOutcome outcome, const std::string& why) {
  LogLine({why, ": nothing is read, created or run"});
  WriteStandardErrorLine(why.c_str());
  return outcome;
}

}  // namespace

void RunContext::OpenProgramFolder() {
  // The image first, then the folder it lies in, by the image's final path:
  // two lookups of the module's path could each follow a folder link to
  // another folder, if a program of the user's own points it elsewhere in
  // between. Where the volume tells no final path, the folder it was
  // started from.
  imageHeld_ = image_.Hold(ModulePath());
  std::wstring folder = FolderOfModulePath(image_.final_path());
  if (folder.empty()) folder = ModuleDirectory();
  programFolder_.Open(folder);
  // The folder taken must be the image's (on Windows, a folder that holds
  // an open file cannot be renamed; Wine lets it).
  folderIsTheImages_ = image_.final_path().empty() ||
                       SamePathText(programFolder_.path(), FolderOfModulePath(image_.final_path()));
}

std::optional<RunOutcome> RunContext::Take() {
  if (programFolder_.path().empty()) {
    return Refuse(RunOutcome::kNoProgramFolder,
                  "the program folder cannot be opened (" + ErrorText(programFolder_.error()) + ")");
  }
  if (!folderIsTheImages_) {
    return Refuse(RunOutcome::kNoProgramFolder, "the program folder " + Utf8FromWide(programFolder_.path()) +
                                                    " is not the folder of the running setup.exe any more");
  }
  if (programFolder_.final_path_unknown()) {
    LogLine({"the program folder's volume tells no final path (", ErrorText(programFolder_.error()),
             "): its files are taken from ", programFolder_.path(), ", as started"});
  }
  switch (imageHeld_) {
    case RunningImage::Outcome::kHeld:
      break;
    case RunningImage::Outcome::kNotMapped:
      return Refuse(RunOutcome::kImageNotHeld,
                    "setup.exe is no longer the file that runs (renamed and replaced before the run could hold it)");
    case RunningImage::Outcome::kNotOpened:
    case RunningImage::Outcome::kUnknown:
      return Refuse(RunOutcome::kImageNotHeld,
                    "the running setup.exe cannot be held (" + ErrorText(image_.error()) + ")");
  }
  switch (seal_.Read(image_.name())) {
    case RunSeal::Outcome::kMalformed:
      return RunOutcome::kSealMalformed;
    case RunSeal::Outcome::kUncheckable:
      return RunOutcome::kSealNotCheckable;
    default:
      break;
  }
  const std::unique_ptr<FileCheck> iniCheck = seal_.SetupIniCheck();
  const SettingsFile::Outcome taken = settings_.Take(programFolder_.path(), iniCheck.get());
  const RunSeal::Outcome judged =
      seal_.JudgeSetupIni(taken == SettingsFile::Outcome::kTaken, taken == SettingsFile::Outcome::kMissing,
                          settings_.why(), iniCheck.get(), settings_.size());
  if (judged == RunSeal::Outcome::kMismatch) return RunOutcome::kSealMismatch;
  if (taken == SettingsFile::Outcome::kRefused || taken == SettingsFile::Outcome::kNoCopy) {
    return Refuse(RunOutcome::kSetupIniNotTaken, "setup.ini cannot be taken (" + settings_.why() + ")");
  }
  return std::nullopt;
}

}  // namespace vantu
