// What the run takes of its program folder, once, and then uses for every
// step: the folder itself (held, by its final path), the running image
// (held, proved to be the file that runs), setup.ini (held, copied to a file
// of the run's own that the settings are read from, and checked against the
// seal where there is one) and the seal. Nothing later reads a path rebuilt
// from the module's name: the user's own programs may change what such a
// path leads to while the run goes on.
#pragma once

#include <optional>

#include "deploy/program_folder.h"
#include "deploy/running_image.h"
#include "seal/run_seal.h"
#include "settings/settings_file.h"
#include "run/run_outcome.h"

namespace vantu {

class RunContext {
 public:
  RunContext() = default;
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  // The running image and the program folder it lies in (by the image's
  // final path), taken first of all: before the log (which may not lie in
  // the folder) and before the run guard (for which the run may wait).
  void OpenProgramFolder();

  // The rest, once the log is open and the run guard taken: the seal and
  // setup.ini. Returns the outcome that ends the run when one of them, the
  // program folder or the image could not be taken (the log says why);
  // nullopt when all were.
  std::optional<RunOutcome> Take();

  const ProgramFolder& program_folder() const { return programFolder_; }
  const RunningImage& image() const { return image_; }
  const SettingsFile& settings() const { return settings_; }
  // What the copy holds the payload to; null for an unsealed image.
  PayloadRule* payload_rule() { return seal_.rule(); }

 private:
  ProgramFolder programFolder_;
  RunningImage image_;
  RunningImage::Outcome imageHeld_ = RunningImage::Outcome::kNotOpened;
  bool folderIsTheImages_ = true;
  // The seal before what it checks, so that it outlives the checks of them.
  RunSeal seal_;
  SettingsFile settings_;
};

}  // namespace vantu
