#pragma once

// Stand-in for the part of the macOS ApplicationServices umbrella header that
// the macOS backend uses, with the platform's own names, values and 64-bit
// signatures, so that the backend compiles and runs unchanged on Linux. It sits
// first on the include path of the stand-in programs only; on a Mac the real
// framework header is used. The functions are implemented in standin.cpp.

// Unlike the platform's header this one is for C++ only (the backend is C++).

#include <stdint.h>

extern "C" {

// CoreFoundation
typedef unsigned char Boolean;
typedef long CFIndex;
typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef const struct __CFAllocator* CFAllocatorRef;

// Only their addresses are ever passed, so one field stands for the platform's
// callback tables.
typedef struct {
    CFIndex version;
} CFDictionaryKeyCallBacks;
typedef struct {
    CFIndex version;
} CFDictionaryValueCallBacks;

extern const CFBooleanRef kCFBooleanTrue;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);
void CFRelease(CFTypeRef cf);

// CoreGraphics
typedef double CGFloat;
struct CGPoint {
    CGFloat x;
    CGFloat y;
};
typedef struct CGPoint CGPoint;

static inline CGPoint CGPointMake(CGFloat x, CGFloat y) {
    return CGPoint{x, y};
}

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;
typedef uint16_t CGKeyCode;

// The platform declares these as enumerations with a fixed 32-bit type, so a
// plain integer does not convert to them implicitly.
enum CGEventType : uint32_t {
    kCGEventLeftMouseDown = 1,
    kCGEventLeftMouseUp = 2,
    kCGEventRightMouseDown = 3,
    kCGEventRightMouseUp = 4,
    kCGEventMouseMoved = 5,
    kCGEventOtherMouseDown = 25,
    kCGEventOtherMouseUp = 26,
};
enum CGMouseButton : uint32_t {
    kCGMouseButtonLeft = 0,
    kCGMouseButtonRight = 1,
    kCGMouseButtonCenter = 2,
};
enum CGEventTapLocation : uint32_t {
    kCGHIDEventTap = 0,
};

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

// Accessibility
extern const CFStringRef kAXTrustedCheckOptionPrompt;
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
}
