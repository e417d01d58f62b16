/* The few CoreFoundation names the loader's tests resolve: a function and
 * the two boolean constants, exported as data objects that point at values
 * the type function recognises. */

struct fake_boolean
{
    int value;
};

static const struct fake_boolean true_value = {1};
static const struct fake_boolean false_value = {0};

const void *const kCFBooleanTrue = &true_value;
const void *const kCFBooleanFalse = &false_value;

unsigned long CFBooleanGetTypeID(void)
{
    return 21;
}

unsigned long CFGetTypeID(const void *value)
{
    return (value == &true_value || value == &false_value) ? CFBooleanGetTypeID() : 0;
}

void CFRelease(const void *value)
{
    (void)value;
}
