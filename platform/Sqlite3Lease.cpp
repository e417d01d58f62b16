#include "Sqlite3Lease.h"

#include <utility>

#include "Sqlite3Holder.h"

Sqlite3Lease::Sqlite3Lease(std::shared_ptr<Sqlite3Holder> holder)
    : m_holder(std::move(holder))
{
}

Sqlite3Lease::~Sqlite3Lease()
{
    giveBack();
}

Sqlite3Lease::Sqlite3Lease(Sqlite3Lease &&other) noexcept
    : m_holder(std::move(other.m_holder))
{
}

Sqlite3Lease &Sqlite3Lease::operator=(Sqlite3Lease &&other) noexcept
{
    if (this != &other) {
        giveBack();
        m_holder = std::move(other.m_holder);
    }
    return *this;
}

void Sqlite3Lease::giveBack()
{
    if (m_holder) {
        m_holder->giveBack();
        m_holder.reset();
    }
}
