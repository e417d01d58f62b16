#pragma once

#include <QString>
#include <QThread>

// Converts the local databases of the old single-file format (plain files in
// the local-databases folder, messages in "view_sms" with enciphered bodies)
// into local-database folders of the current format, one transaction per
// file, and deletes each old file once it is converted. A file is first moved
// to its name followed by ".__tmp", so that a run that stopped is resumed
// from that name at the next start without duplicating anything.
//
// There is no cancel: the dialog's Cancel button is disabled for this run.
class LocalDbUpdateThread : public QThread
{
    Q_OBJECT
public:
    explicit LocalDbUpdateThread(QObject *form, QObject *parent = nullptr);
    ~LocalDbUpdateThread() override;

    // The key of the old bodies: the 32 ASCII codes of this text.
    static QByteArray bodyKey();

protected:
    void run() override;

private:
    // Converts the old file at path (its temporary name) into the folder.
    void convert(const QString &path, const QString &folder);

    QObject *m_form;
};
