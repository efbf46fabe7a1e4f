#include "hardening/memory_reader.h"

#include "link/ports.h"
#include "morvent.h"
#include "platform/platform.h"

namespace mvtest {

namespace link = mv::link;
namespace plat = mv::plat;

void MemoryReaderTest::SetUp() {
    memdev::install();
    memdev::serialDevice(kSerial);
    memdev::netDevice(kNet);
    ASSERT_EQ(OpenCom(kSerial, 0), MORVENT_OK);
    // Wired directly, without OpenNet: no keep-alive thread may advance the
    // virtual clock behind the test's back.
    const plat::Socket s = plat::net().create();
    ASSERT_TRUE(plat::net().connect(s, "127.0.0.1", kNet));
    link::ports().socket[kNet].store(s);
}

void MemoryReaderTest::TearDown() {
    CloseSpecComPort(kSerial);
    const plat::Socket s = link::ports().socket[kNet].exchange(plat::kNoSocket);
    if (s != plat::kNoSocket) plat::net().close(s);
    link::setOpen(kNet, false);
    EXPECT_EQ(memdev::misuses(), 0);
    memdev::uninstall();
}

}  // namespace mvtest
