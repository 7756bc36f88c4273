#pragma once

#include "flrig/xmlrpc.h"
#include "ft847/ft847radio.h"

#include <QList>
#include <QStringList>
#include <functional>

// flrig's XML-RPC methods for the FT-847, as flrig names and types them, for one client. VFO A
// is the radio's current VFO (in satellite mode the satellite receive VFO), VFO B its transmit
// VFO; which of the two the client works on (rig.set_AB) is its own. Split is the FT-847's
// satellite mode, as for the Hamlib listener: setting VFO B switches it on first. Keying is by
// the lines. A call is answered at once or asks the radio first; its answer is then made from
// what the radio said.
class FlrigSession
{
public:
    struct Step
    {
        enum class Kind { Radio, Key, Release };
        Kind kind = Kind::Radio;
        Ft847Radio::Request request;
    };
    // Makes the result from the radio's answers, one per read, in order.
    using Output = std::function<Xmlrpc::Value(const QList<QByteArray> &answers)>;
    struct Reply
    {
        QList<Step> steps;
        Output output;
        QString fault; // not empty: the call is refused with this text
    };

    // Every method served, for system.listMethods.
    static QStringList methods();
    Reply call(const Xmlrpc::Call &call, const Ft847Radio &radio);

    bool usesB() const { return m_useB; }
    void setUseB(bool useB) { m_useB = useB; }

private:
    bool m_useB = false;
};
