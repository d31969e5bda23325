#pragma once
#include <QString>
#include <QtGlobal>
#include <string>

// MAC and IPv4 helpers of the network side.

// The 6 bytes as lower-case hex pairs joined by ":".
std::string ethaddr2string(uchar* mac);
// Reads "aa:bb:cc:dd:ee:ff" into mac; mac is left unchanged unless the text
// has exactly six hexadecimal parts. Always returns 0.
int string2ethaddr(const QString& text, uchar* mac);
// Replaces the last "."-part of ip by n. Always true.
bool setIPLast(QString& ip, int n);
// ip AND mask per part; empty for malformed input.
QString getSubNet(const QString& ip, const QString& mask);
// Sets O_NONBLOCK; the result of F_SETFL.
int set_socket_nonblock(int fd);
// A random port whose low 16 bits are >= 10001 and outside 10410..10419.
int RandPort();
// Interface addresses into caller buffers (ip, mask, gateway at least 16
// bytes, mac at least 18). 0 on success, -1/-2/-4/-5/-6/-7/-8 on failure.
// With no default route in "/proc/net/route" a default route through the
// interface's own address is installed (only logged on the simulated platform).
int GetIfAddr(char* ifname, char* ip, char* mask, char* gateway, char* mac);
// True when an up interface other than "lo" has a link-local IPv4 address.
bool FirstFoundBaseIP();
