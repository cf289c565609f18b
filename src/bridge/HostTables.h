#pragma once
// The runner's own refresh of the host platform's cached state: after it the tables and
// the procedure container are reloaded from their sources on next use.

namespace Wexel {

// Refreshes the three global tables, then the container tables of the empty name, then
// resets the procedure container, in that order.
void RefreshHostTables();

} // namespace Wexel
