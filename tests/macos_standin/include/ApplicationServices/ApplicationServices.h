#pragma once

// Stand-in for the part of the macOS ApplicationServices umbrella header that
// the macOS backend uses, with the platform's own names, values and 64-bit
// signatures, so that the backend compiles and runs unchanged on Linux. It sits
// first on the include path of the stand-in programs only; on a Mac the real
// framework header is used. The functions are implemented in standin.cpp.

// Unlike the platform's header this one is for C++ only (the backend is C++),
// and it declares only what the backend names: anything else the backend
// started to use would fail to build here before it could fail on a Mac.

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

// The platform's callback tables. Only their addresses are ever passed, so
// their fields are left out (and their definitions to standin.cpp).
typedef struct CFDictionaryKeyCallBacks CFDictionaryKeyCallBacks;
typedef struct CFDictionaryValueCallBacks CFDictionaryValueCallBacks;

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

static inline CGPoint CGPointMake(CGFloat x, CGFloat y) {
    return CGPoint{x, y};
}

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;
typedef uint16_t CGKeyCode;

// The platform declares these as enumerations with a fixed 32-bit type, so a
// plain integer does not convert to them implicitly. The backend converts the
// core's numbers (platform.h) to the first two, so their values stay unnamed.
enum CGEventType : uint32_t {};
enum CGMouseButton : uint32_t {};
enum CGEventTapLocation : uint32_t { kCGHIDEventTap = 0 };

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

// Accessibility
extern const CFStringRef kAXTrustedCheckOptionPrompt;
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
Boolean AXIsProcessTrusted(void);
}
