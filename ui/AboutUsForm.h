#pragma once

#include <memory>

#include <QDialog>

namespace Ui
{
class AboutUsForm;
}
class WinMovable;

// The About box: product picture, name and version, the maker's home page
// and a copyright line with the current year. Run it with exec(); its result
// means nothing.
class AboutUsForm : public QDialog
{
    Q_OBJECT
public:
    explicit AboutUsForm(QWidget *parent = nullptr);
    ~AboutUsForm() override;

private:
    std::unique_ptr<WinMovable> m_mover;
    std::unique_ptr<Ui::AboutUsForm> m_ui;
};
