#include "Sqlite3File.h"

#include <functional>
#include <vector>

#include "SqliteRecordBytes.h"

using namespace sqlitebytes;

// --- b-tree walks ----------------------------------------------------------

std::vector<quint32> Sqlite3File::childPages(const _Page &page) const
{
    std::vector<quint32> children;
    if (!page.isTreePage() || page.isLeaf())
        return children;
    children.reserve(static_cast<size_t>(page.cells.size()) + 1);
    for (const uchar *cell : page.cells)
        children.push_back(readBE32(cell, pageEndOf(cell)));
    children.push_back(page.rightChild);
    return children;
}

// The walk keeps its own stack rather than recursing, and visits a page at
// most once, so a child pointing back at an ancestor, or a chain of interior
// pages as long as the file, ends the walk instead of the stack.
void Sqlite3File::walkBelow(const _Page &page, const std::function<bool(_Page &)> &visit) const
{
    const quint32 pages = pageCount();
    std::vector<bool> seen(static_cast<size_t>(pages) + 1, false);
    if (page.pageNo <= pages)
        seen[page.pageNo] = true;
    std::vector<quint32> stack;
    const auto pushChildren = [&](const _Page &parent) {
        const std::vector<quint32> children = childPages(parent);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (*it > 0 && *it <= pages && !seen[*it])
                stack.push_back(*it);
        }
    };
    pushChildren(page);
    while (!stack.empty()) {
        const quint32 n = stack.back();
        stack.pop_back();
        if (seen[n])
            continue;
        seen[n] = true;
        _Page child = readPage(n);
        if (visit(child))
            pushChildren(child);
    }
}

QList<Sqlite3File::_Page> Sqlite3File::leafPages(const _Page &page) const
{
    QList<_Page> out;
    if (!page.isTreePage())
        return out;
    if (page.isLeaf()) {
        out.append(page);
        return out;
    }
    walkBelow(page, [&out](_Page &child) {
        if (!child.isTreePage())
            return false;
        if (child.isLeaf()) {
            out.append(std::move(child));
            return false;
        }
        return true;
    });
    return out;
}

QList<Sqlite3File::_Page> Sqlite3File::treePages(const _Page &page) const
{
    QList<_Page> out;
    out.append(page);
    if (!page.isTreePage() || page.isLeaf())
        return out;
    walkBelow(page, [&out](_Page &child) {
        out.append(child);
        return true;
    });
    return out;
}
