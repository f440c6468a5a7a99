// The installer's steps, run from the installed folder and not in the usage
// text: installer-stop and installer-cleanup when the product is removed
// (also as the older half of an upgrade), installer-start at the end of an
// install.
#ifndef MJCTL_INSTALLER_STEPS_H
#define MJCTL_INSTALLER_STEPS_H

#include "command_line.h"

namespace mjctl {

// installer-stop [UPGRADINGPRODUCTCODE]: before the files go, the agent of
// this user and session, when it runs the mjtray.exe beside this mjctl,
// quits (and is waited for); an agent from elsewhere is left alone. For an
// upgrade, the newer version's installer-start starts it again. Prints
// nothing.
int command_installer_stop(const mjh_command_line &s);

// installer-start: at the end of an install, starts the mjtray.exe beside
// this mjctl again when installer-stop stopped it for the upgrade. Prints
// nothing.
int command_installer_start();

// installer-cleanup user|machine [UPGRADINGPRODUCTCODE]: when the product
// goes for good (not for an upgrade): the user's start with Windows, when it
// names the mjtray.exe beside this mjctl (a value naming another install
// stays); for the per-user product also the agent's settings, which are the
// user's own and go with it (a per-machine product leaves every user's). The
// package's tables cannot tell an upgrade under Wine, hence this step.
// Prints nothing.
int command_installer_cleanup(const mjh_command_line &s);

}  // namespace mjctl

#endif
