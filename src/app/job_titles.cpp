#include "app/job_titles.h"

#include "protocol/file_name.h"

namespace kelpie {

std::string JobRowTitle(const CompareJob& job) {
  std::string title = "Compare";
  // Appended piece by piece: GCC 12 at -O3 warns falsely about "(" + text.
  if (job.peer != 0) title.append("(").append(std::to_string(job.peer)).append(")");
  title += ": \"" + FileNamePart(job.localFile.path) + "\"";
  if (job.remoteFile) title += " And \"" + FileNamePart(job.remoteFile->path) + "\"";
  return title;
}

}  // namespace kelpie
