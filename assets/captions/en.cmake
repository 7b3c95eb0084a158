# English captions of the artwork, rendered into Image/ (the pictures kestrel falls back to).
# Each text is filled into the @CAPTION_...@ places of the *.svg.in templates; the sizes are
# SVG user units (pixels of the rendered picture).

set(CAPTION_FONT "Liberation Sans")
set(LABEL_SIZE 11)         # labels under an icon, 80 x 48
set(LABEL_SMALL_SIZE 10.5) # the longest label (Battery Model)
set(FACE_SIZE 17)          # one-line button faces, 130 x 50
set(FACE_SMALL_SIZE 15)    # two-line button faces
set(CANCEL_SIZE 11)        # the settings dialog's Cancel, 80 x 32
set(SECTION_SIZE 15)       # section name of a result picture, 160 x 56
set(RESULT_SIZE 12)        # the result under it
set(RESULT_SPACING 0.6)

# labels of the input column, the report header block and the settings dialog
set(CAPTION_USB "USB Port")
set(CAPTION_Customer "Customer")
set(CAPTION_BatteryModel "Battery Model")
set(CAPTION_Date "Test Date")
set(CAPTION_RegistrationNo "Reg. No.")
set(CAPTION_Capacity "Capacity")
set(CAPTION_Title "Title")
set(CAPTION_Header "Header")
set(CAPTION_Footer "Footer")

# button faces; the two-line ones have a caption per line
set(CAPTION_AddReport_1 "Add to")
set(CAPTION_AddReport_2 "Report")
set(CAPTION_DocHeader_1 "Doc")
set(CAPTION_DocHeader_2 "Settings")
set(CAPTION_QueryData_1 "Query")
set(CAPTION_QueryData_2 "Data")
set(CAPTION_Printer "Print")
set(CAPTION_SaveAs "Save As")
set(CAPTION_History "History")
set(CAPTION_Cancel "Cancel")

# section result pictures <section>-<result>: the section's name and its result
set(CAPTION_SECTION_1 "Battery")
set(CAPTION_SECTION_2 "Grounding")
set(CAPTION_SECTION_3 "Starter")
set(CAPTION_SECTION_4 "Charging 3K")
set(CAPTION_SECTION_5 "Charging 2K")
set(CAPTION_SECTION_6 "Average 2K")
set(CAPTION_RESULT_0 "NO RESULT")
set(CAPTION_RESULT_1 "PASS")
set(CAPTION_RESULT_2 "ATTENTION")
set(CAPTION_RESULT_4 "REPLACE")
