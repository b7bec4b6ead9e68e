"""Phonebook generators for bench/compare.py: several independent ways of making
phonebooks of any number of entries, with several naming styles, and inputs built to
hurt (equal rotate-xor names, a million tiny sections, a million keys in one section, one
line of 200 MB, binary garbage). Each returns the bytes of the file."""

import random
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
MANAGED = ("vpn1.example.com", "vpn2.example.com")  # the ids of resources/template.ini


def managed_phone(i):
    """Every tenth entry dials a managed gateway, by turns the two rules' ids."""
    return MANAGED[(i // 10) % 2] if i % 10 == 0 else None


NAME_STYLES = {
    # numbers in the middle
    "middle": lambda i: "VPN %06d Branch" % i,
    # a long suffix shared by every name
    "suffix": lambda i: "gw%d.emea.remote-access.corp.contoso.example.com" % i,
    # short names
    "short": lambda i: "v%d" % i,
    # several words with spaces
    "spaces": lambda i: "Branch Office %d Main Street North" % i,
}


def _hex(rng, digits):
    return "".join(rng.choice("0123456789ABCDEF") for _ in range(digits))


def ikev2_sstp(entries, style, seed=1):
    """Entries as Windows 10 and 11 write them for IKEv2 and SSTP connections, written
    here from the format itself: the entry block, then NETCOMPONENTS, MEDIA and DEVICE
    blocks after blank lines; values vary by entry (GUIDs, dates, strategies, devices, an
    EAP blob on some)."""
    rng = random.Random(seed)
    name_of = NAME_STYLES[style]
    out = []
    for i in range(entries):
        name = name_of(i)
        sstp = rng.random() < 0.5
        eap = rng.random() < 0.3
        phone = managed_phone(i) or "%s.gw%d.example.net" % ("sstp" if sstp else "ike", i)
        lines = [
            "[%s]" % name, "Encoding=1", "PBVersion=%d" % rng.choice((4, 6, 8)), "Type=2",
            "AutoLogon=0", "UseRasCredentials=%d" % rng.randint(0, 1),
            "LowDateTime=%d" % rng.randint(-2**31, 2**31 - 1),
            "HighDateTime=%d" % rng.randint(30000000, 31999999),
            "DialParamsUID=%d" % rng.randint(1, 2**31), "Guid=%s" % _hex(rng, 32),
            "VpnStrategy=%d" % (5 if sstp else rng.choice((7, 8))), "ExcludedProtocols=8",
            "LcpExtensions=1", "DataEncryption=%d" % rng.choice((8, 256)), "SwCompression=0",
            "NegotiateMultilinkAlways=0", "SkipDoubleDialDialog=0", "DialMode=0",
            "OverridePref=15", "RedialAttempts=3", "RedialSeconds=60",
            "IdleDisconnectSeconds=0", "RedialOnLinkFailure=1", "CallbackMode=0",
            "CustomDialDll=", "CustomDialFunc=", "CustomRasDialDll=",
            "ForceSecureCompartment=0", "DisableIKENameEkuCheck=0", "AuthenticateServer=0",
            "ShareMsFilePrint=1", "BindMsNetClient=1", "SharedPhoneNumbers=0",
            "GlobalDeviceSettings=0", "PrerequisiteEntry=", "PrerequisitePbk=",
            "PreferredPort=VPN%d-0" % (3 if sstp else 2),
            "PreferredDevice=WAN Miniport (%s)" % ("SSTP" if sstp else "IKEv2"),
            "PreferredBps=0", "PreferredHwFlow=1", "PreferredProtocol=1",
            "PreferredCompression=1", "PreferredSpeaker=1", "PreferredMdmProtocol=0",
            "PreviewUserPw=1", "PreviewDomain=%d" % rng.randint(0, 1), "PreviewPhoneNumber=0",
            "ShowDialingProgress=1", "ShowMonitorIconInTaskBar=1",
            "CustomAuthKey=%d" % (26 if eap else 0),
        ]
        if eap:
            lines.append("CustomAuthData=314442430F000000" + _hex(rng, 120))
        lines += [
            "AuthRestrictions=%d" % rng.choice((128, 512, 544)), "IpPrioritizeRemote=%d" % rng.randint(0, 1),
            "IpInterfaceMetric=0", "IpHeaderCompression=0", "IpAddress=0.0.0.0",
            "IpDnsAddress=0.0.0.0", "IpDns2Address=0.0.0.0", "IpWinsAddress=0.0.0.0",
            "IpWins2Address=0.0.0.0", "IpAssign=1", "IpNameAssign=1",
            "IpDnsFlags=%d" % rng.randint(0, 3), "IpNBTFlags=1", "TcpWindowSize=0",
            "UseFlags=2", "IpSecFlags=0", "IpDnsSuffix=%s" % rng.choice(("", "corp.contoso.example")),
            "Ipv6Assign=1", "Ipv6Address=::", "Ipv6PrefixLength=0", "Ipv6PrioritizeRemote=1",
            "Ipv6InterfaceMetric=0", "Ipv6NameAssign=1", "Ipv6DnsAddress=::",
            "Ipv6Dns2Address=::", "Ipv6Prefix=0000000000000000", "Ipv6InterfaceId=0000000000000000",
            "DisableClassBasedDefaultRoute=%d" % rng.randint(0, 1), "DisableMobility=0",
            "NetworkOutageTime=1800", "IDI=", "IDR=", "ImsConfig=0", "IdiType=0", "IdrType=0",
            "ProvisionType=0", "PreSharedKey=", "CacheCredentials=1", "NumCustomPolicy=0",
            "NumEku=0", "UseMachineRootCert=0", "Disable_IKEv2_Fragmentation=0",
            "PlumbIKEv2TSAsRoutes=0", "NumServers=0", "RouteVersion=1", "NumRoutes=0",
            "NumNrptRules=0", "AutoTiggerCapable=0", "NumAppIds=0", "NumClassicAppIds=0",
            "SecurityDescriptor=", "ApnInfoProviderId=", "ApnInfoUsername=",
            "ApnInfoPassword=", "ApnInfoAccessPoint=", "ApnInfoAuthentication=1",
            "ApnInfoCompression=0", "DeviceComplianceEnabled=0", "DeviceComplianceSsoEnabled=0",
            "DeviceComplianceSsoEku=", "DeviceComplianceSsoIssuer=", "FlagsSet=0", "Options=0",
            "DisableDefaultDnsSuffixes=0", "NumTrustedNetworks=0", "NumDnsSearchSuffixes=0",
            "PowershellCreatedProfile=%d" % rng.randint(0, 1), "ProxyFlags=0",
            "ProxySettingsModified=0", "ProvisioningAuthority=", "AuthTypeOTP=0",
            "GREKeyDefined=0", "NumPerAppTrafficFilters=0", "AlwaysOnCapable=0",
            "DeviceTunnel=0", "PrivateNetwork=%d" % rng.randint(0, 1),
            "", "NETCOMPONENTS=", "ms_msclient=1", "ms_server=1",
            "", "MEDIA=rastapi", "Port=VPN%d-0" % (3 if sstp else 2),
            "Device=WAN Miniport (%s)" % ("SSTP" if sstp else "IKEv2"),
            "", "DEVICE=vpn", "PhoneNumber=%s" % phone, "AreaCode=", "CountryCode=0",
            "CountryID=0", "UseDialingRules=0", "Comment=", "FriendlyName=",
            "LastSelectedPhone=0", "PromoteAlternates=0", "TryNextAlternateOnFail=1", "",
        ]
        out.append("\r\n".join(lines))
        out.append("\r\n")
    return "".join(out).encode("latin-1")


def scaled_sample(path, entries):
    """The entries of a real phonebook repeated until there are `entries`, each renamed
    "<name> <i>" and keeping its own breaks; every tenth dials a managed gateway."""
    text = Path(path).read_bytes().decode("utf-8")
    blocks, current = [], None
    for line in text.splitlines(keepends=True):
        if line.startswith("["):
            current = [line]
            blocks.append(current)
        elif current is not None:
            current.append(line)
    out = []
    for i in range(entries):
        block = blocks[i % len(blocks)]
        header = block[0]
        name = header[1:header.rindex("]")]
        ending = header[header.rindex("]") + 1:]
        out.append("[%s %d]%s" % (name, i, ending))
        phone = managed_phone(i)
        for line in block[1:]:
            if phone and line.startswith("PhoneNumber="):
                line = "PhoneNumber=" + phone + line[len(line.rstrip("\r\n")):]
            out.append(line)
    return "".join(out).encode("utf-8")


def rotate_xor(name):
    h = 0
    for byte in name:
        h = ((h << 2) | (h >> 30)) & 0xFFFFFFFF ^ byte
    return h


def planned_collision(i):
    """32 digits, the second sixteen the first sixteen each xor 1: bytes sixteen apart are
    rotated alike by rotate-left-2-xor, so every such name has the same hash."""
    digits = "%016d" % i
    return digits + "".join(chr(ord(d) ^ 1) for d in digits)


def sections_named(names):
    body = "Encoding=1\r\nType=2\r\nPhoneNumber=gw.example.net\r\nDevice=WAN Miniport (SSTP)\r\n"
    return "".join("[%s]\r\n%s\r\n" % (name, body) for name in names).encode("ascii")


def colliding_names(count):
    names = [planned_collision(i) for i in range(count)]
    assert len({rotate_xor(n.encode()) for n in names[:1000]}) == 1
    return sections_named(names)


def ordinary_names(count):
    """The same sections under ordinary names of the same length."""
    return sections_named(["Branch office %018d" % i for i in range(count)])


def tiny_sections(count):
    return "".join("[t%07d]\r\nk=v\r\n" % i for i in range(count)).encode("ascii")


def one_section_of_keys(count):
    return ("[all]\r\n" + "".join("Key%07d=value\r\n" % i for i in range(count))).encode("ascii")


def one_long_line(size):
    return b"[long]\r\nk=" + b"x" * size + b"\r\n"


def garbage(size, seed=7):
    """Random bytes, NUL bytes replaced (a file holding NUL is refused whole)."""
    data = bytearray(random.Random(seed).randbytes(size))
    return bytes(data.replace(b"\0", b"\1"))
