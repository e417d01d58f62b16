#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "CFValues.h"
#include "HouseArrest.h"
#include "ServicePeer.h"
#include "SimFramework.h"
#include "ThrownText.h"

namespace
{

using Step = ServicePeer::Step;

TEST(HouseArrestTest, TheContainerIsVendedUnlessTheDeviceSaysError)
{
    QString loadError;
    ASSERT_TRUE(loadSimFramework(&loadError)) << loadError.toStdString();
    const CFType request = cfDict({{"Command", cfStr("VendContainer")}, {"Identifier", cfStr("com.example.notes")}});
    const QString requestXml = QString::fromUtf8(CFType::toPropertyListData(request, kCFPropertyListFormatXml));
    const struct
    {
        const char *name;
        QList<Step> answer;
        QString error;
    } cases[] = {
        {"complete", {ServicePeer::send(cfDict({{"Status", cfStr("Complete")}}))}, "(no error)"},
        {"an empty dictionary", {ServicePeer::send(cfDict({}), true)}, "(no error)"},
        {"an error", {ServicePeer::send(cfDict({{"Error", cfStr("ApplicationLookupFailed")}}))},
         "can not find com.example.notes."},
        {"an error of any value", {ServicePeer::send(cfDict({{"Error", CFType::fromBool(false)}}))},
         "can not find com.example.notes."},
        // Nothing that could be read says the container was vended.
        {"an answer that is no dictionary", {ServicePeer::send(cfNames({"Complete"}))}, "can not find com.example.notes."},
        {"an empty answer", {ServicePeer::sendRaw(beLength(0))}, "can not find com.example.notes."},
        {"no answer", {}, "mobiledevice_recmsg(msg-length) error, received length: 0.\n" + requestXml},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::receive()};
        steps += c.answer;
        ServicePeer peer(steps);
        EXPECT_EQ(thrownText([&] { house_arrest_vend_container(peer.socket(), "com.example.notes"); }), c.error);
        EXPECT_EQ(peer.received(), QStringList(cfText(request)));
        EXPECT_EQ(peer.receivedFormats(), QStringList("xml"));
    }
}

} // namespace
