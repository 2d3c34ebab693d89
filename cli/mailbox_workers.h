#pragma once

#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "cli/mailboxes_progress.h"
#include "engine/status_window.h"

namespace cli {

// The mailboxes of `rows` whose index in the list is k modulo n: shard k (0-based) of n.
std::vector<CliJob::Row> ShardOf(const std::vector<CliJob::Row>& rows, int k, int n);

// How many workers convert `mailboxes` when the user names none: one a core, no more than there
// are mailboxes.
int DefaultJobs(size_t mailboxes);

// Converts every mailbox of `job` into its own data file, `jobs` at a time, each worker with its
// own status window, shell and store session. A Ctrl-C or a request to end stops every worker
// after its current message and starts no further mailbox; a mailbox whose conversion throws is
// recorded as not converted and the others go on. The runs' reports are joined in the order of
// the mailboxes, as one run over them all would have made them.
engine::RunReport ConvertMailboxes(const CliJob& job, int jobs, MailboxesProgress& progress);

}  // namespace cli
