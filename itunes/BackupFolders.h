#pragma once

#include <QDir>

// The folder under which the backup program keeps one sub-folder per device
// backup: "Apple Computer/MobileSync/Backup" inside the user's data home, the
// same base the application-data folder uses. Whether the folder itself
// exists is not tested, and nothing is created.
QDir itunesBackupRoot();
