#pragma once

#include <QColor>
#include <QList>
#include <QPageLayout>
#include <QPaintDevice>
#include <QPointF>
#include <QString>

#include <memory>

class RecordingPaintEngine;

// A paint device of sheets that records the text painted on it, with the
// pen colour and the sheet it went to, instead of drawing pixels. Its size
// and resolution follow a page layout (A4 portrait, margins of 20 points,
// 96 dots per inch unless told otherwise), so that page painters can be
// checked without a printer.
class RecordingPaintDevice : public QPaintDevice
{
public:
    struct Text
    {
        int sheet = 1; // from 1
        QString text;
        QPointF position; // the text item's baseline origin, device units
        QColor colour;
    };

    explicit RecordingPaintDevice(const QPageLayout &layout = defaultLayout(), int dpi = 96);
    ~RecordingPaintDevice() override;

    static QPageLayout defaultLayout();

    const QPageLayout &pageLayout() const { return m_layout; }
    // Starts the next sheet; false once failNewPage is set.
    bool newPage();
    void setFailNewPage(bool fail) { m_failNewPage = fail; }

    int sheets() const { return m_sheet; }
    const QList<Text> &texts() const { return m_texts; }
    // The texts of one sheet, in painting order.
    QList<Text> textsOn(int sheet) const;

    QPaintEngine *paintEngine() const override;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    friend class RecordingPaintEngine;

    QPageLayout m_layout;
    int m_dpi;
    int m_sheet = 1;
    bool m_failNewPage = false;
    QList<Text> m_texts;
    std::unique_ptr<RecordingPaintEngine> m_engine;
};
