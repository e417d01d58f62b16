<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>Messages: %1</source>
        <translation>SMS: %1</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUND_AND_MESSAGES</source>
        <translation>Can&#x27;t find any SMS.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0</source>
        <translation>Find no SMS with keyword %1.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUNDCONTACT_KEYWORD_%0</source>
        <translation>Find no contact with keyword %1.</translation>
    </message>
    <message>
        <source>IDS_SUC_CLEAR_CACHE</source>
        <translation>Successfully cleared cache files.</translation>
    </message>
    <message>
        <source>Failed to clear some cache files. Could not remove:&lt;br/&gt;%1</source>
        <translation>Failed to clear some cache files. Could not remove:&lt;br/&gt;%1</translation>
    </message>
    <message>
        <source>Cleared cache files. The cache files of connected devices are kept.</source>
        <translation>Cleared cache files. The cache files of connected devices are kept.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_SEL_MESSAGES</source>
        <translation>Confirm to delete the selected SMS?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_THIS_CHAT</source>
        <translation>Confirm to delete SMS with this contact?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_THIS_LOCALDB</source>
        <translation>Confirm to delete this Database?</translation>
    </message>
    <message>
        <source>IDS_DEL_LOCALDB_SUC</source>
        <translation>Successfully Deleted Database %0.</translation>
    </message>
    <message>
        <source>Failed to delete Database %1 completely. Please close any program that uses its folder %2 and try again.</source>
        <translation>Failed to delete Database %1 completely. Please close any program that uses its folder %2 and try again.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>IDS_SEL_ONE_IOS_DEVICE</source>
        <translation>Please select an iPhone:</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Backup SMS to Local Database</source>
        <translation>Backup SMS to Local Database</translation>
    </message>
    <message>
        <source>Backup SMS with this contact to Local Database</source>
        <translation>Backup SMS with this contact to Local Database</translation>
    </message>
    <message>
        <source>Backup Selected SMS to Local Database</source>
        <translation>Backup Selected SMS to Local Database</translation>
    </message>
    <message>
        <source>Check for Update</source>
        <translation>Check for Update</translation>
    </message>
    <message>
        <source>Clear Cache files</source>
        <translation>Clear Cache files</translation>
    </message>
    <message>
        <source>Delete SMS</source>
        <translation>Delete SMS</translation>
    </message>
    <message>
        <source>Delete SMS with this contact</source>
        <translation>Delete SMS with this contact</translation>
    </message>
    <message>
        <source>Delete Selected SMS</source>
        <translation>Delete Selected SMS</translation>
    </message>
    <message>
        <source>Delete this Database</source>
        <translation>Delete this Database</translation>
    </message>
    <message>
        <source>Disconnect Device</source>
        <translation>Disconnect Device</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Export SMS to File</source>
        <translation>Export SMS to File</translation>
    </message>
    <message>
        <source>Export SMS to iTunes Backup</source>
        <translation>Export SMS to iTunes Backup</translation>
    </message>
    <message>
        <source>Export SMS with this contact to File</source>
        <translation>Export SMS with this contact to File</translation>
    </message>
    <message>
        <source>Export SMS with this contact to iTunes Backup</source>
        <translation>Export SMS with this contact to iTunes Backup</translation>
    </message>
    <message>
        <source>Export Selected SMS to File</source>
        <translation>Export Selected SMS to File</translation>
    </message>
    <message>
        <source>Export Selected SMS to iTunes Backup</source>
        <translation>Export Selected SMS to iTunes Backup</translation>
    </message>
    <message>
        <source>Feedback and Support</source>
        <translation>Feedback and Support</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Import SMS from iTunes Backup to Local Database</source>
        <translation>Import SMS from iTunes Backup to Local Database</translation>
    </message>
    <message>
        <source>Import SMS from iTunes Backup to this Local Database</source>
        <translation>Import SMS from iTunes Backup to this Local Database</translation>
    </message>
    <message>
        <source>Open Database Folder</source>
        <translation>Open Database Folder</translation>
    </message>
    <message>
        <source>Print SMS</source>
        <translation>Print SMS</translation>
    </message>
    <message>
        <source>Print SMS with this contact</source>
        <translation>Print SMS with this contact</translation>
    </message>
    <message>
        <source>Print Selected SMS</source>
        <translation>Print Selected SMS</translation>
    </message>
    <message>
        <source>Transfer SMS from Database to iPhone</source>
        <translation>Transfer SMS from Database to iPhone</translation>
    </message>
    <message>
        <source>Transfer SMS with this contact to iPhone</source>
        <translation>Transfer SMS with this contact to iPhone</translation>
    </message>
    <message>
        <source>Transfer SMS with this contact to other iPhone</source>
        <translation>Transfer SMS with this contact to other iPhone</translation>
    </message>
    <message>
        <source>Transfer Selected SMS to iPhone</source>
        <translation>Transfer Selected SMS to iPhone</translation>
    </message>
    <message>
        <source>Transfer Selected SMS to other iPhone</source>
        <translation>Transfer Selected SMS to other iPhone</translation>
    </message>
    <message>
        <source>Transfer iPhone SMS to other iPhone</source>
        <translation>Transfer iPhone SMS to other iPhone</translation>
    </message>
    <message>
        <source>View Cache Files</source>
        <translation>View Cache Files</translation>
    </message>
</context>
</TS>
