#include "SaveFileAnswerer.h"

SaveFileAnswerer::SaveFileAnswerer()
{
    m_previous = setSaveFileNameRunner([this](QWidget *parent, const QString &caption, const QString &dir,
                                              const QString &filter, QString *selectedFilter,
                                              QFileDialog::Options options) {
        m_asked.append({parent != nullptr, caption, dir, filter, selectedFilter ? *selectedFilter : QString(),
                        int(options)});
        if (m_answers.isEmpty())
            return QString();
        const Answer a = m_answers.takeFirst();
        if (selectedFilter)
            *selectedFilter = a.filter;
        return a.path;
    });
}

SaveFileAnswerer::~SaveFileAnswerer()
{
    setSaveFileNameRunner(std::move(m_previous));
}

SaveFileAnswerer &SaveFileAnswerer::answer(const QString &path, const QString &filter)
{
    m_answers.append({path, filter});
    return *this;
}

SaveFileAnswerer &SaveFileAnswerer::cancel()
{
    m_answers.append({QString(), QString()});
    return *this;
}
