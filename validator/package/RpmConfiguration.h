#pragma once

#include <string>

namespace Common::Rpm {

// Loads librpm's configuration (its macro files and rpmrc) into this
// process, once: the configuration is process-wide, and a process that
// loaded it before forking hands it to its children as it is. A failed load
// is retried by the next call.
void loadConfiguration();

// The same without the warning: for a process that loads the configuration
// ahead of the readers of its children, which try again, and warn, when
// this failed. True when the configuration is loaded.
bool loadConfigurationQuietly();

// The rpm database directory of a configuration whose %{_dbpath} is the
// shell command %(bash -c 'echo ~/.rpmdb'), worked out as bash would:
// $HOME when it is set (empty included), else the home directory of the
// user's password entry; followed by "/.rpmdb". `home` is $HOME, or null
// when it is not set.
std::string userDatabasePath(const char* home);

} // namespace Common::Rpm
