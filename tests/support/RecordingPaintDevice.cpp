#include "RecordingPaintDevice.h"

#include <QPageSize>
#include <QPaintEngine>

class RecordingPaintEngine : public QPaintEngine
{
public:
    explicit RecordingPaintEngine(RecordingPaintDevice *device)
        : QPaintEngine(QPaintEngine::AllFeatures)
        , m_device(device)
    {
    }

    bool begin(QPaintDevice *) override
    {
        // A painter starts with a black pen and reports only changes.
        m_pen = QColor(Qt::black);
        m_transform = QTransform();
        return true;
    }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyPen)
            m_pen = state.pen().color();
        if (state.state() & QPaintEngine::DirtyTransform)
            m_transform = state.transform();
    }

    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}

    void drawTextItem(const QPointF &p, const QTextItem &textItem) override
    {
        RecordingPaintDevice::Text t;
        t.sheet = m_device->m_sheet;
        t.text = textItem.text();
        t.position = m_transform.map(p);
        t.colour = m_pen;
        m_device->m_texts.append(t);
    }

private:
    RecordingPaintDevice *m_device;
    QColor m_pen;
    QTransform m_transform;
};

RecordingPaintDevice::RecordingPaintDevice(const QPageLayout &layout, int dpi)
    : m_layout(layout)
    , m_dpi(dpi)
    , m_engine(std::make_unique<RecordingPaintEngine>(this))
{
}

RecordingPaintDevice::~RecordingPaintDevice() = default;

QPageLayout RecordingPaintDevice::defaultLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                       QPageLayout::Point);
}

bool RecordingPaintDevice::newPage()
{
    if (m_failNewPage)
        return false;
    ++m_sheet;
    return true;
}

QList<RecordingPaintDevice::Text> RecordingPaintDevice::textsOn(int sheet) const
{
    QList<Text> list;
    for (const Text &t : m_texts) {
        if (t.sheet == sheet)
            list.append(t);
    }
    return list;
}

QPaintEngine *RecordingPaintDevice::paintEngine() const
{
    return m_engine.get();
}

int RecordingPaintDevice::metric(PaintDeviceMetric metric) const
{
    const QRect paint = m_layout.paintRectPixels(m_dpi);
    switch (metric) {
    case PdmWidth:
        return paint.width();
    case PdmHeight:
        return paint.height();
    case PdmWidthMM:
        return int(m_layout.paintRect(QPageLayout::Millimeter).width());
    case PdmHeightMM:
        return int(m_layout.paintRect(QPageLayout::Millimeter).height());
    case PdmNumColors:
        return 0x7fffffff;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return m_dpi;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(devicePixelRatioFScale());
    default:
        return QPaintDevice::metric(metric);
    }
}
