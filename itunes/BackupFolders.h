#pragma once

#include <QDir>

// The folder under which the backup program keeps one sub-folder per device
// backup: "Apple Computer/MobileSync/Backup" inside <home>/AppData/Roaming
// when that folder exists, otherwise inside <home>/Application Data. Whether
// the folder itself exists is not tested.
QDir itunesBackupRoot();
