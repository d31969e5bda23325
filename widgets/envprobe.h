#pragma once

// Probes of the process environment, asked through the shell as the panel's
// start-up scripts see it.

// True when QT_QPA_PLATFORM_PLUGIN_PATH is "/opt/Qt5.15.7/plugins/platforms":
// the development set-up, where start-up skips the network-card and camera waits.
bool isOpen_Env();

// True under an X11 desktop session.
bool isDesktop_Platform();
