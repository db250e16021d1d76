// What `fotex --get-config NAME` printed for every setting of the two virtual cameras before the
// names of values moved into the library; the output must stay the same.
#pragma once

// Device 0, all 37 settings in table order.
constexpr const char* kGetConfigDevice0 = R"(Label: Exposure Mode
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Manual
Choice: 1 Auto
Choice: 2 Aperture priority
Choice: 3 Shutter priority
Choice: 4 Program creative
Choice: 5 Program action
Choice: 6 Portrait
Choice: 7 8
END
Label: Exposure Compensation
Readonly: 0
Type: TEXT
Current: 0
END
Label: Exposure Time
Readonly: 0
Type: MENU
Current: 80
Choice: 0 10
Choice: 1 20
Choice: 2 40
Choice: 3 80
Choice: 4 125
Choice: 5 250
Choice: 6 500
Choice: 7 1000
Choice: 8 2000
END
Label: F Number
Readonly: 0
Type: MENU
Current: f/2.8
Choice: 0 f/2.8
Choice: 1 f/4
Choice: 2 f/5.6
Choice: 3 f/8
Choice: 4 f/11
Choice: 5 f/16
END
Label: Flash Mode
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Auto
Choice: 1 Off
Choice: 2 Fill
Choice: 3 Red-eye auto
Choice: 4 Red-eye fill
Choice: 5 External sync
END
Label: Focus Mode
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Manual
Choice: 1 Auto
Choice: 2 Macro auto
END
Label: Pan Position
Readonly: 0
Type: RANGE
Current: 0
Bottom: -180
Top: 180
Step: 1
END
Label: Tilt Position
Readonly: 0
Type: RANGE
Current: 0
Bottom: -90
Top: 90
Step: 1
END
Label: Timer Mode
Readonly: 0
Type: MENU
Current: 0
Choice: 0 0
Choice: 1 1
Choice: 2 2
Choice: 3 3
END
Label: Timer Value
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 30000
Step: 1000
END
Label: Power Mode
Readonly: 1
Type: TEXT
Current: Battery
END
Label: Battery Status
Readonly: 1
Type: RANGE
Current: 80
Bottom: 0
Top: 100
Step: 1
END
Label: Thumbnail Width
Readonly: 0
Type: RANGE
Current: 160
Bottom: 80
Top: 320
Step: 80
END
Label: Thumbnail Height
Readonly: 0
Type: RANGE
Current: 120
Bottom: 60
Top: 240
Step: 60
END
Label: Picture Width
Readonly: 0
Type: MENU
Current: 1600
Choice: 0 640
Choice: 1 1024
Choice: 2 1600
Choice: 3 2048
END
Label: Picture Height
Readonly: 0
Type: MENU
Current: 1200
Choice: 0 480
Choice: 1 768
Choice: 2 1200
Choice: 3 1536
END
Label: Compression Setting
Readonly: 0
Type: MENU
Current: 1
Choice: 0 0
Choice: 1 1
Choice: 2 2
END
Label: Timelapse Interval
Readonly: 0
Type: RANGE
Current: 1000
Bottom: 1000
Top: 60000
Step: 1000
END
Label: Timelapse Number
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 100
Step: 1
END
Label: Burst Interval
Readonly: 0
Type: RANGE
Current: 100
Bottom: 100
Top: 1000
Step: 100
END
Label: Burst Number
Readonly: 0
Type: RANGE
Current: 1
Bottom: 1
Top: 10
Step: 1
END
Label: Effect Mode
Readonly: 0
Type: MENU
Current: Standard
Choice: 0 Standard
Choice: 1 Black and white
Choice: 2 Sepia
END
Label: Digital Zoom
Readonly: 0
Type: RANGE
Current: 10
Bottom: 10
Top: 40
Step: 1
END
Label: Sharpness
Readonly: 0
Type: RANGE
Current: 0
Bottom: -2
Top: 2
Step: 1
END
Label: Contrast
Readonly: 0
Type: RANGE
Current: 0
Bottom: -2
Top: 2
Step: 1
END
Label: Capture Mode
Readonly: 0
Type: MENU
Current: Normal
Choice: 0 Normal
Choice: 1 Burst
Choice: 2 Time-lapse
END
Label: Capture Delay
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 10000
Step: 1000
END
Label: Exposure Index
Readonly: 0
Type: MENU
Current: 100
Choice: 0 100
Choice: 1 200
Choice: 2 400
Choice: 3 800
Choice: 4 1600
END
Label: Exposure Metering Mode
Readonly: 0
Type: MENU
Current: Average
Choice: 0 Average
Choice: 1 Center-weighted
Choice: 2 Multi-spot
Choice: 3 Center spot
END
Label: Focus Metering Mode
Readonly: 0
Type: MENU
Current: Center spot
Choice: 0 Center spot
Choice: 1 Multi-spot
END
Label: Focus Distance
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 10000
Step: 10
END
Label: Focus Length
Readonly: 1
Type: TEXT
Current: 5000
END
Label: RGB Gain
Readonly: 0
Type: TEXT
Current: 1.0:1.0:1.0
END
Label: White Balance
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Manual
Choice: 1 Auto
Choice: 2 One-push auto
Choice: 3 Daylight
Choice: 4 Fluorescent
Choice: 5 Tungsten
Choice: 6 Flash
END
Label: Upload URL
Readonly: 0
Type: TEXT
Current: 
END
Label: Artist
Readonly: 0
Type: TEXT
Current: Fotex
END
Label: Copyright Info
Readonly: 0
Type: TEXT
Current: (c) Fotex
END
)";

// Device 1 (no pan or tilt, an unsigned focal length), the 34 settings it can show.
constexpr const char* kGetConfigDevice1 = R"(Label: Exposure Mode
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Manual
Choice: 1 Auto
Choice: 2 Aperture priority
Choice: 3 Shutter priority
Choice: 4 Program creative
Choice: 5 Program action
Choice: 6 Portrait
Choice: 7 8
END
Label: Exposure Compensation
Readonly: 0
Type: TEXT
Current: 0
END
Label: Exposure Time
Readonly: 0
Type: MENU
Current: 80
Choice: 0 10
Choice: 1 20
Choice: 2 40
Choice: 3 80
Choice: 4 125
Choice: 5 250
Choice: 6 500
Choice: 7 1000
Choice: 8 2000
END
Label: F Number
Readonly: 0
Type: MENU
Current: f/2.8
Choice: 0 f/2.8
Choice: 1 f/4
Choice: 2 f/5.6
Choice: 3 f/8
Choice: 4 f/11
Choice: 5 f/16
END
Label: Flash Mode
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Auto
Choice: 1 Off
Choice: 2 Fill
Choice: 3 Red-eye auto
Choice: 4 Red-eye fill
Choice: 5 External sync
END
Label: Focus Mode
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Manual
Choice: 1 Auto
Choice: 2 Macro auto
END
Label: Timer Mode
Readonly: 0
Type: MENU
Current: 0
Choice: 0 0
Choice: 1 1
Choice: 2 2
Choice: 3 3
END
Label: Timer Value
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 30000
Step: 1000
END
Label: Power Mode
Readonly: 1
Type: TEXT
Current: Battery
END
Label: Battery Status
Readonly: 1
Type: RANGE
Current: 80
Bottom: 0
Top: 100
Step: 1
END
Label: Thumbnail Width
Readonly: 0
Type: RANGE
Current: 160
Bottom: 80
Top: 320
Step: 80
END
Label: Thumbnail Height
Readonly: 0
Type: RANGE
Current: 120
Bottom: 60
Top: 240
Step: 60
END
Label: Picture Width
Readonly: 0
Type: MENU
Current: 1600
Choice: 0 640
Choice: 1 1024
Choice: 2 1600
Choice: 3 2048
END
Label: Picture Height
Readonly: 0
Type: MENU
Current: 1200
Choice: 0 480
Choice: 1 768
Choice: 2 1200
Choice: 3 1536
END
Label: Compression Setting
Readonly: 0
Type: MENU
Current: 1
Choice: 0 0
Choice: 1 1
Choice: 2 2
END
Label: Timelapse Interval
Readonly: 0
Type: RANGE
Current: 1000
Bottom: 1000
Top: 60000
Step: 1000
END
Label: Timelapse Number
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 100
Step: 1
END
Label: Burst Interval
Readonly: 0
Type: RANGE
Current: 100
Bottom: 100
Top: 1000
Step: 100
END
Label: Burst Number
Readonly: 0
Type: RANGE
Current: 1
Bottom: 1
Top: 10
Step: 1
END
Label: Effect Mode
Readonly: 0
Type: MENU
Current: Standard
Choice: 0 Standard
Choice: 1 Black and white
Choice: 2 Sepia
END
Label: Digital Zoom
Readonly: 0
Type: RANGE
Current: 10
Bottom: 10
Top: 40
Step: 1
END
Label: Sharpness
Readonly: 0
Type: RANGE
Current: 0
Bottom: -2
Top: 2
Step: 1
END
Label: Contrast
Readonly: 0
Type: RANGE
Current: 0
Bottom: -2
Top: 2
Step: 1
END
Label: Capture Mode
Readonly: 0
Type: MENU
Current: Normal
Choice: 0 Normal
Choice: 1 Burst
Choice: 2 Time-lapse
END
Label: Capture Delay
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 10000
Step: 1000
END
Label: Exposure Index
Readonly: 0
Type: MENU
Current: 100
Choice: 0 100
Choice: 1 200
Choice: 2 400
Choice: 3 800
Choice: 4 1600
END
Label: Exposure Metering Mode
Readonly: 0
Type: MENU
Current: Average
Choice: 0 Average
Choice: 1 Center-weighted
Choice: 2 Multi-spot
Choice: 3 Center spot
END
Label: Focus Metering Mode
Readonly: 0
Type: MENU
Current: Center spot
Choice: 0 Center spot
Choice: 1 Multi-spot
END
Label: Focus Distance
Readonly: 0
Type: RANGE
Current: 0
Bottom: 0
Top: 10000
Step: 10
END
Label: RGB Gain
Readonly: 0
Type: TEXT
Current: 1.0:1.0:1.0
END
Label: White Balance
Readonly: 0
Type: MENU
Current: Auto
Choice: 0 Manual
Choice: 1 Auto
Choice: 2 One-push auto
Choice: 3 Daylight
Choice: 4 Fluorescent
Choice: 5 Tungsten
Choice: 6 Flash
END
Label: Upload URL
Readonly: 0
Type: TEXT
Current: 
END
Label: Artist
Readonly: 0
Type: TEXT
Current: Fotex
END
Label: Copyright Info
Readonly: 0
Type: TEXT
Current: (c) Fotex
END
)";
