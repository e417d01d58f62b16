/* A device library that knows no device: enough exports for the loader's
 * tests to tell a resolved function from an absent one, with results that
 * show the right function was reached. */

typedef void (*notification_callback)(void *info, void *context);

int AMDeviceNotificationSubscribe(notification_callback callback, unsigned int unused1, unsigned int unused2,
                                  void *context, void **notification)
{
    (void)callback;
    (void)unused1;
    (void)unused2;
    (void)context;
    if (notification)
        *notification = 0;
    return 0;
}

/* A fixed failure code, so that a test sees this very function answer. */
int AMDeviceConnect(void *device)
{
    (void)device;
    return -402653183;
}
