#pragma once

#include <QString>

#include "_MsgAttachment.h"

// The path of a thumbnail of the attachment's local copy (_local_path): a
// file named by the MD5 of that path plus ".thumb" in the temporary folder,
// made on first use (a JPEG or PNG scaled so that its longer side is 120
// pixels, saved in the format it was read in) and reused afterwards. The path
// is returned also when no thumbnail could be made. Empty for null.
QString attachmentThumbnail(const _MsgAttachment *attachment);
