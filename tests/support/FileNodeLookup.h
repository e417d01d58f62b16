#pragma once

#include <QStringList>

#include "BackupManifest.h"

// The node reached from root by one child name per step; null where a step
// finds no child of that name. Of two children with one name the later one
// is taken.
const BackupManifest::_FileNode *findNode(const BackupManifest::_FileNode &root, const QStringList &names);
