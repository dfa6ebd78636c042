#include "app/job_titles.h"

#include "protocol/file_name.h"

namespace kelpie {

std::string JobRowTitle(const CompareJob& job) {
  std::string title = "Compare";
  if (job.peer != 0) title += "(" + std::to_string(job.peer) + ")";
  title += ": \"" + FileNamePart(job.localFile.path) + "\"";
  if (job.remoteFile) title += " And \"" + FileNamePart(job.remoteFile->path) + "\"";
  return title;
}

}  // namespace kelpie
