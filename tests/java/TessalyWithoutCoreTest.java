import java.util.List;
import java.util.function.Function;
import java.util.function.ToIntFunction;

/**
 * Runs with libTessaly.so alone in its directory: with no core to load, every
 * method gives null or -1 and nothing is thrown.
 */
public final class TessalyWithoutCoreTest {
    public static void main(String[] args) {
        Check check = new Check();
        // Long enough for every layout with zero-length runs.
        int[] in = new int[600];
        in[in.length - 1] = 6000;

        List<Function<int[], int[]>> arrayMethods = arrayMethods();
        for (int i = 0; i < arrayMethods.size(); i++) {
            Function<int[], int[]> method = arrayMethods.get(i);
            String name = "array method " + i;
            check.group(name, () -> check.that(name, method.apply(in) == null, "expected null"));
        }
        List<ToIntFunction<int[]>> intMethods = intMethods();
        for (int i = 0; i < intMethods.size(); i++) {
            ToIntFunction<int[]> method = intMethods.get(i);
            String name = "int method " + i;
            check.group(name, () -> check.equal(name, -1, method.applyAsInt(in)));
        }
        check.group("link methods", () -> {
            check.that("OpenNetPort", Tessaly.OpenNetPort(0, 6000, "127.0.0.1") == null, "expected null");
            check.equal("CloseComPort", -1, Tessaly.CloseComPort());
            check.equal("CloseNetPort", -1, Tessaly.CloseNetPort(6000));
            check.equal("CloseSpecComPort", -1, Tessaly.CloseSpecComPort(1));
            check.that("MorventEpcEncode", Tessaly.MorventEpcEncode(new int[] {0, 0, 0}, "urn:epc:id:gid:1.2.3") == null,
                       "expected null");
            check.that("MorventSerialDevice", Tessaly.MorventSerialDevice(1) == null, "expected null");
            check.that("MorventResolveHost", Tessaly.MorventResolveHost("localhost") == null, "expected null");
        });
        check.equal("methods covered", 62, arrayMethods.size() + intMethods.size() + 7);
        check.finish();
    }

    private static List<Function<int[], int[]>> arrayMethods() {
        return List.of(
            Tessaly::OpenComPort, Tessaly::OpenComPortAt, Tessaly::AutoOpenComPort,
            Tessaly::GetReaderInformation,
            Tessaly::GetSystemParameter, Tessaly::GetTime,
            Tessaly::GetTagBufferInfo, Tessaly::GetGPIOStatus,
            Tessaly::ReadActiveModeData, Tessaly::TransparentCMD,
            Tessaly::GetSeriaNo, Tessaly::Inventory_G2,
            Tessaly::ReadData_G2, Tessaly::WriteData_G2,
            Tessaly::BlockWrite_G2, Tessaly::WriteEPC_G2,
            Tessaly::BlockErase_G2, Tessaly::KillTag_G2,
            Tessaly::SetPrivacyByEPC_G2, Tessaly::Lock_G2,
            Tessaly::EASConfigure_G2, Tessaly::BlockLock_G2,
            Tessaly::SetPrivacyWithoutEPC_G2,
            Tessaly::ResetPrivacy_G2, Tessaly::CheckPrivacy_G2,
            Tessaly::EASAlarm_G2, Tessaly::InventorySingle_6B,
            Tessaly::InventoryMultiple_6B, Tessaly::ReadData_6B,
            Tessaly::WriteData_6B, Tessaly::Lock_6B,
            Tessaly::CheckLock_6B, Tessaly::MorventEpcDecode);
    }

    private static List<ToIntFunction<int[]>> intMethods() {
        return List.of(
            Tessaly::SetRegion, Tessaly::SetAddress,
            Tessaly::SetInventoryScanTime, Tessaly::SetBaudRate,
            Tessaly::SetRfPower, Tessaly::BuzzerAndLEDControl,
            Tessaly::SetWorkMode, Tessaly::SetEASSensitivity,
            Tessaly::SetTriggerTime,
            Tessaly::SetResponsePamametersofAuto_runningMode,
            Tessaly::SetInventoryInterval, Tessaly::SelectTagType,
            Tessaly::SetAntennaMultiplexing,
            Tessaly::SetBeepNotification, Tessaly::SetTIDParameter,
            Tessaly::SetRelay, Tessaly::SetGPIO,
            Tessaly::SetNotificationPulseOutput, Tessaly::ChangeATMode,
            Tessaly::ClearTagBuffer, Tessaly::SetReal_timeClock,
            Tessaly::SetMask);
    }
}
