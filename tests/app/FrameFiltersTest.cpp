#include <gtest/gtest.h>

#include "app/MainFrame.h"

TEST(DeviceFilter, OnlyTheReadersUsbSerialAdapters)
{
    struct {
        const wchar_t* name;
        bool watched;
    } cases[] = {
        {L"\\\\?\\USB#VID_0403&PID_6001#A600XYZA#{4d36e978-e325-11ce-bfc1-08002be10318}", true},
        {L"\\\\?\\FTDIBUS#VID_0403+PID_6001+A600XYZA#0000#{4d36e978-e325-11ce-bfc1-08002be10318}", true},
        {L"\\\\?\\usb#vid_0403&pid_6001#x#{guid}", true},  // either case
        {L"\\\\?\\USB#VID_0403&PID_1234#5&2A#{guid}", true},
        {L"\\\\?\\USB#VID_2184&PID_0011#1#{guid}", true},
        {L"\\\\?\\USB#VID_3168&PID_0100#1#{guid}", true},
        {L"\\\\?\\USB#VID_3168&PID_0106#1#{guid}", true},
        {L"\\\\?\\USB#VID_3168&PID_0107#1#{guid}", false},
        {L"\\\\?\\USB#VID_0403&PID_6015#A600XYZA#{guid}", false},  // same maker, another product
        {L"\\\\?\\USB#VID_0404&PID_6001#A600XYZA#{guid}", false},
        {L"\\\\?\\USB#VID_0403&PID_6001", false},                  // no serial part
        {L"\\\\?\\USB#VID_0403&PID_6001#", false},
        {L"VID_0403&PID_6001#A6", false},                          // no bus part before '#'
        {L"\\\\?\\ACPI#PNP0501#1#{guid}", false},
        {L"", false},
        {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.watched, IsWatchedSerialAdapter(c.name)) << (c.name ? c.name : L"(null)");
}

TEST(ExternalCommands, OnlyStaticCommandIds)
{
    struct {
        int id;
        bool allowed;
    } cases[] = {{32785, true}, {32786, true},  {32787, true},  {32779, true},  {1143, true},   {32876, true},
                 {32895, true}, {33040, true},  {33047, true},  {33028, true},  {32896, true},  {33048, false},
                 {0, false},    {1, false},     {9999, false},  {10000, false}, {10005, false}, {32780, false},
                 {32784, false}, {32898, false}, {65535, false}, {-1, false}};
    for (const auto& c : cases)
        EXPECT_EQ(c.allowed, IsExternalCommandAllowed(c.id)) << c.id;
}
