#include "FileNodeLookup.h"

const BackupManifest::_FileNode *findNode(const BackupManifest::_FileNode &root, const QStringList &names)
{
    const BackupManifest::_FileNode *node = &root;
    for (const QString &name : names) {
        const BackupManifest::_FileNode *next = nullptr;
        for (const BackupManifest::_FileNode *child : node->children)
            if (child->name == name)
                next = child;
        if (!next)
            return nullptr;
        node = next;
    }
    return node;
}
